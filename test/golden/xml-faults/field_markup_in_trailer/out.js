class A {
  /*v = {vx:0,v:[div,
    [],[{vx:2,v:" a "}
    
  ],[["vdata"],0,{d}]]}*/
}

__extend(A.prototype,{
  v: {vx:0,v:[div,
    [],[{vx:2,v:" a "}
    
  ],[["vdata"],0,{d}]]},
},1);
