class S {
  set size() {}
}
