export var a = 1;
export function f() {}
export default class App {}
