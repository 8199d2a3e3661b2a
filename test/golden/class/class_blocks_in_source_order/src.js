class B {
  y = 1;
}
class Empty {}
class A extends mix(B, C) {
  x = 2;
}
