 exports.default= /^[0-9a-f]+$/i;

