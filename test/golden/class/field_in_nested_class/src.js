class Outer {
  make() {
    return class Inner { y = 2; };
  }
}
