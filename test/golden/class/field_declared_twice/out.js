class A {
  /*a = 1*/
  /*i = 2*/
  /*a = 3*/
}

__extend(A.prototype,{
  i: 2,
  a: 3,
},1);
