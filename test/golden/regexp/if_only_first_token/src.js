if (a) (f(x) / 2);
