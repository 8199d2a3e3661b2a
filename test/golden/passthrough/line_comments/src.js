// first
var a; // tail
//
