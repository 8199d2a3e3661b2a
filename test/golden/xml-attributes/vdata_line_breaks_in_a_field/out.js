class A {
  /*g = {vx:0,v:[L, [ 
    [["b"],0,1]],[],[["vdata"],0,{a:`
`}]]}*/
  /*h = 2*/
}

__extend(A.prototype,{
  g: {vx:0,v:[L, [ 
    [["b"],0,1]],[],[["vdata"],0,{a:`
`}]]},
  h: 2,
},1);
