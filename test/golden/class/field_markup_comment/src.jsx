class A {
  x = <!-- c --> 1;
  y = a * <!-- d --> b;
}
