class A {
  m();
}
