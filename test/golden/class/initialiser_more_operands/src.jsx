class R {
  u = ~+a;
  w = a ? b ? 1 : 2 : 3;
  z = this.items[i + 1].name.get;
  r = /=a/;
  g = (a = 1, b);
  lt = a <b;
}
