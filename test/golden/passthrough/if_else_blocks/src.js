if (a) {
  b();
} else if (c) {
  d();
} else {
  e();
}
