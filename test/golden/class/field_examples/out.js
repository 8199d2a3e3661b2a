class A {
  /*count = 0*/
  /*title = 'Hello' + name*/
}

__extend(A.prototype,{
  count: 0,
  title: 'Hello' + name,
},1);
