class Calc {
  /*flag = a > 1 ? 'big' : 'small'*/
  /*sum = a * b - c / d % 2*/
  /*test = typeof a === 'string' && !b*/
  /*neg = -x.y[0]*/
  /*call = this.f(1, 2)*/
  /*re = /ab+c/g*/
  /*opts = {a: 1, b: [2]}*/
}

__extend(Calc.prototype,{
  call: this.f(1, 2),
  sum: a * b - c / d % 2,
  opts: {a: 1, b: [2]},
  re: /ab+c/g,
  test: typeof a === 'string' && !b,
  neg: -x.y[0],
  flag: a > 1 ? 'big' : 'small',
},1);
