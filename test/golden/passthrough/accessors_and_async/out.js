o = { get x() { return 1; }, set x(v) {} };
async function f() { await g(); }

