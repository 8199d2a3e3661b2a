class A {
  *() {}
}
