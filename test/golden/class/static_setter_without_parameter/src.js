class S {
  static set size() {}
}
