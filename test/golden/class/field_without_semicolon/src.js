class F {
  x = 1
}
