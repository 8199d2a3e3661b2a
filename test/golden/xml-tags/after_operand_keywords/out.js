function* g() { yield __vx(S,[]); yield {vx:0,v:[div,[],[]]}; }
async function f() { await __vx(T,[]); }
function h() { throw{vx:0,v:[p,[],[]]}; }

