class S {
  set size(v = 1) {}
}
