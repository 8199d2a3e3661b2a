class E {
  event onA
}
