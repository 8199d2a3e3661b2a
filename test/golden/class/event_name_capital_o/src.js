class E {
  event OnChange;
}
