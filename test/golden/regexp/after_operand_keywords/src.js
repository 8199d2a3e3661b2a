function* g() { yield /'/g; }
async function f() { await /'/.test(s); }
switch (x) { case /'/.test(x): break; }
function t() { throw /'/; }
void /'/;
delete /'/.x;
do /'/.test(s); while (0);
new /'/.constructor();
a = typeof /'/;
a = (a instanceof /'/.constructor);
a = ('x' in /'/);
for (const m of /'/g.exec(s)) {}
function r() { return /'/; }
if (a) {} else /'/.test(s);
