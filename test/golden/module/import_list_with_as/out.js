const {a : b, c} = require('./m.js');

