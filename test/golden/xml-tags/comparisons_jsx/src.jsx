x<y;
a < b;
if (a <b) f();
