class A {
  /*list = [
    1,
    2
  ]*/
  /*total = a +
    b*/
}

__extend(A.prototype,{
  total: a +
    b,
  list: [
    1,
    2
  ],
},1);
