var a = b < c;
f(x, y);
