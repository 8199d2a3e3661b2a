class F {
  x;
}
