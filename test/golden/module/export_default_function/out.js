 /*export*/ function main() {}

exports.default=main;
