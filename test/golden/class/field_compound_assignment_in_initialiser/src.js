class F {
  x = a.b += 1;
}
