class R {
  /*u = ~+a*/
  /*w = a ? b ? 1 : 2 : 3*/
  /*z = this.items[i + 1].name.get*/
  /*r = /=a/*/
  /*g = (a = 1, b)*/
  /*lt = a <b*/
}

__extend(R.prototype,{
  u: ~+a,
  g: (a = 1, b),
  w: a ? b ? 1 : 2 : 3,
  lt: a <b,
  r: /=a/,
  z: this.items[i + 1].name.get,
},1);
