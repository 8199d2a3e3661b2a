export var a = 1;
export function a() {}
