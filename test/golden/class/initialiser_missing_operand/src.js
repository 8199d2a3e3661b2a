class A {
  x = ;
}
