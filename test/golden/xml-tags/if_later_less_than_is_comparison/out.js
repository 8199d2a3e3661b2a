if (c) f(a) <b;

