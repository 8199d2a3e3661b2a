/*export*/ var a = 1;
/*export*/ function a() {}

exports.a=a;
exports.a=a;
