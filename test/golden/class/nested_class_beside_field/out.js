class Outer {
  /*a = 1*/
  m() { return class Inner {}; }
}

__extend(Outer.prototype,{
  a: 1,
},1);
