class N {
  a = 0;
  i = 1;
  q = 2;
  y = 3;
  b = 4;
  c = 5;
  d = 6;
  e = 7;
  f = 8;
}
