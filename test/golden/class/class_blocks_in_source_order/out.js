class B {
  /*y = 1*/
}
class Empty {}
class A extends mix(B, C) {
  /*x = 2*/
}

__extend(B.prototype,{
  y: 1,
},1);
__extend(A.prototype,{
  x: 2,
},1);
