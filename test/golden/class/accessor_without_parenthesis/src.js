class S {
  get size {}
}
