a
b;

