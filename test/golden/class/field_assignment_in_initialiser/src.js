class F {
  x = a = 1;
}
