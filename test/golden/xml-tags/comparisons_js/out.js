x<y;
a < b;
t = a <b;

