 /*export*/ async function run() {}

exports.default=run;
