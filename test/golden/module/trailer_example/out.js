/*export*/ var a = 1;
/*export*/ function f() {}
 /*export*/ class App {}

exports.a=a;
exports.f=f;
exports.default=App;
