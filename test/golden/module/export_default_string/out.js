 exports.default= "x";

