 exports.default= class {}

