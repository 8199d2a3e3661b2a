function f() { return __vx(Item,[]); }
x = typeof __vx(A,[]);

