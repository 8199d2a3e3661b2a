x = {} / 1;
y = ({}) / 1;
z = a[0] / 2;
w = function () {} / 1;
v = 1
/2/1;
u = +{} / 1;
t = {a: {} / 1, b() {} };
function r() { return {} / 1; }
q = class {} / 1;
p = a.in / b;
p = a.return / 2;
p = a.new / 3;
p = a.yield / 4;
p = a.default / 5;
o = async function () {} / 1;
n = `${ {} / 1 }`;
m = [function () {} / 1];

