/*export*/ const b = 2;
/* end */
exports.b=b;
