var a;
var b;
f(a));
