 exports.default= 42;

