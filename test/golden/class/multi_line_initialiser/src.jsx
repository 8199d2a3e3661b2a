class A {
  list = [
    1,
    2
  ];
  total = a +
    b;
}
