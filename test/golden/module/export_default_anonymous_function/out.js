 exports.default= function () {}

