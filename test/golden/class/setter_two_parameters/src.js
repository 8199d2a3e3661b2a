class S {
  set size(a, b) {}
}
