class E {
  event get;
}
