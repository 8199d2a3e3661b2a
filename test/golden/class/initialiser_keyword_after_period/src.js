class A {
  x = a.class;
}
