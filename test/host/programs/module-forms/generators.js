export function* count(n) { for (let i = 0; i < n; i++) yield i; }
export async function later(v) { return v; }
export async function* ticks() { yield 'tick'; yield 'tock'; }
