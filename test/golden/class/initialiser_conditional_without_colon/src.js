class A {
  x = a ? b;
}
