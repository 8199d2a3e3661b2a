s = `a\
b`;
next();
