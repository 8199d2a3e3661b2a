f (x); return x;

