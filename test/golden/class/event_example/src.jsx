class A {
  event onChange;
}
