const  ns = require('ns');

