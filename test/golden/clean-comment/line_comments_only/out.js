

x;

