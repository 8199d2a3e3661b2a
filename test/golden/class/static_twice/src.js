class A {
  static static m() {}
}
