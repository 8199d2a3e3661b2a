s = `a
b${c}
d`;
e;
