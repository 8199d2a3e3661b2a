class T {
  label = `n=${n}!`;
}
