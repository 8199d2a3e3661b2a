class E {
  event change;
}
