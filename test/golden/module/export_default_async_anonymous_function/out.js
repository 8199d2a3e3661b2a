 exports.default= async function () {}

