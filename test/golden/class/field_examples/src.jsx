class A {
  count = 0;
  title = 'Hello' + name;
}
