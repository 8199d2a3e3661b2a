 /*export*/ class App {
  /*title = 'x'*/
}
/*export*/ var a = 1;
/*export*/ function f() {}
class B { /*n = 2*/ }

__extend(App.prototype,{
  title: 'x',
},1);
__extend(B.prototype,{
  n: 2,
},1);
exports.a=a;
exports.f=f;
exports.default=App;
