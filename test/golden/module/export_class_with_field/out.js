/*export*/ class A { /*x = 1*/ }

__extend(A.prototype,{
  x: 1,
},1);
exports.A=A;
