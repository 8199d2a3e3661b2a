class E {
  event on;
}
