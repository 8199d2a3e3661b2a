/*export*/ const {a} = o;

exports.a=a;
