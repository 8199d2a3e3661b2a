class S {
  get size();
}
