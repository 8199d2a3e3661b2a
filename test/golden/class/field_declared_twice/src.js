class A {
  a = 1;
  i = 2;
  a = 3;
}
