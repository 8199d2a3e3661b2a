class A {
  x = f()();
}
