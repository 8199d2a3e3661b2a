// first
var a; // tail
//

