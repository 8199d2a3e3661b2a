const util = require('lib/util/') ;
const a_b_c_d = require("a-b.c-d.js") ;
const $x = require('$x') ;
const _y = require('dir/_y.z') ;
require('a b') ;
require('été') ;
const m = require('m')  ;

