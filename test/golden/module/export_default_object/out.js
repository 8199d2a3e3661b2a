 exports.default= {name: 'x'};

