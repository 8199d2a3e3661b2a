class Outer {
  a = 1;
  m() { return class Inner {}; }
}
