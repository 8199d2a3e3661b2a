class S {
  set size({a}) {}
}
