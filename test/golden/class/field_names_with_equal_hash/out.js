class A {
  /*jvndutj = 1*/
  /*wcwkelx = 2*/
}

__extend(A.prototype,{
  wcwkelx: 2,
  jvndutj: 1,
},1);
