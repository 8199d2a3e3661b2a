function* g() { yield<vx:S/>; yield <div/>; }
async function f() { await <vx:T/>; }
function h() { throw<p/>; }
