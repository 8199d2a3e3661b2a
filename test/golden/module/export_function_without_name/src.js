export function () {}
