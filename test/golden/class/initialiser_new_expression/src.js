class A {
  x = new Foo();
}
