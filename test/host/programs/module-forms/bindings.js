const o = { p: 1, q: [2], s: 3, t: 4 };
const arr = [5, 6];
export var a = 1, b = 2;
export let c, d;
export const {p, q: [r], ...rest} = o;
export const [x, , y = 7] = arr;
