
const  ns = require('ns');

