const {a as b, c} = require('./m.js');

