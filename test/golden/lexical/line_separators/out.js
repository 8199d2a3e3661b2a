a = 1; b = 2; c = [
] /x/g.test(s);
s = 'a b c';
t = `a b`;
// comment d = 4;
/* a b */ e = 5;

