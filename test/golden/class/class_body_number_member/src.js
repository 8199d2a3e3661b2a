class A {
  42;
}
