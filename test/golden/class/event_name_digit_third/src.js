class E {
  event on1x;
}
