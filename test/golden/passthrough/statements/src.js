var a = 1;
let b = a + 2;
const c = b * 3;
