a; // x
b;
