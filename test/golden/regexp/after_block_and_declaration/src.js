{ a(); }
/x/.test(s);
function f() {}
/y/.test(s);
if (a) { b(); } /z/.test(s);
try {} finally {}
/w/.test(s);
async function h() {}
/v/.test(s);
class C {}
/u/.test(s);
const k = () => {}
/t/.test(s);
switch (x) { case 1: {} /s/.test(s); }
