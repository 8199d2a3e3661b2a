/*export*/ var a = 1;

exports.a=a;
