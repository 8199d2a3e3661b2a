if (a) b(); else c();
if (a)
  b = 1;

