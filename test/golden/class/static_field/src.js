class K {
  static size = 1;
}
