class A {
  [key]() {}
}

