class A {
  /*x = *//*** c **//* 1*/
  /*y = a * *//*** d **//* b*/
}

__extend(A.prototype,{
  x: /*** c **/ 1,
  y: a * /*** d **/ b,
},1);
