/*export*/ async function load() {}

exports.load=load;
