require(`
ort`)


const  x = require(`a
b`);
z;

