/*export*/ var a = 1; // last line
exports.a=a;
