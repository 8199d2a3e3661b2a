const 
{ default:A,b} = require('m');

