 exports.default= a + b;

