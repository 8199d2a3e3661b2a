s = `a\
b`;
next();

