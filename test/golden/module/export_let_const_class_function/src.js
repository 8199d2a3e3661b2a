export let x = 1;
export const y = 2;
export class C {}
export function f() {}
