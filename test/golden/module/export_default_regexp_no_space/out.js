 exports.default=/x/g;

