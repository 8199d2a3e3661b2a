class S {
  get size(v) {}
}
