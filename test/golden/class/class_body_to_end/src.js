class A {
  m() {}
