class A {
  /*x = "* /" + 1 /* c * /*/
  /*y = a* /re/*/
  /*z = {vx:0,v:[p,[],[{vx:2,v:"a* /b"}/*** k ** /]]}*/
}

__extend(A.prototype,{
  x: "*/" + 1,
  y: a*/re/,
  z: {vx:0,v:[p,[],[{vx:2,v:"a*/b"}/*** k **/]]},
},1);
