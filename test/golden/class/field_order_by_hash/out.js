class A {
  /*title = 1*/
  /*count = 2*/
}

__extend(A.prototype,{
  count: 2,
  title: 1,
},1);
