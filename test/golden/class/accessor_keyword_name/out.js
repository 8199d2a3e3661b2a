class S {
  get class() {}
}

