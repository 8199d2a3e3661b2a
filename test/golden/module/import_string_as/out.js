const  tools = require('util/my-tools.js');

