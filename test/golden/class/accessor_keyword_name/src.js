class S {
  get class() {}
}
