function f() {
  class A { x = 1; }
}
