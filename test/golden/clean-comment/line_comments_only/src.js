// a
// b
x;
