class P {
  n = ++i;
  m = i--;
  k = 'k' in o || a instanceof B;
}
