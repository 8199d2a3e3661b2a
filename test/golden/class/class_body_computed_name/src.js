class A {
  [key]() {}
}
