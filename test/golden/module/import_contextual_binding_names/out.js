const get= require('g').default;
const  of = require('o');
const  event = require('e');

