class A {
  title = 1;
  count = 2;
}
