class P {
  /*n = ++i*/
  /*m = i--*/
  /*k = 'k' in o || a instanceof B*/
}

__extend(P.prototype,{
  k: 'k' in o || a instanceof B,
  m: i--,
  n: ++i,
},1);
