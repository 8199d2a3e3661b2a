class A {
  jvndutj = 1;
  wcwkelx = 2;
}
