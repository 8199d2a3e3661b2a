class A {
  x = () => 1;
}
