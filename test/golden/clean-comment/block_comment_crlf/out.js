
x;

