// Named exports of each kind, a default function and a list export.
export const VERSION = '1.' + 2;

export function square(x) {
  return x * x;
}

function cube(x) {
  return x * square(x);
}

function twice(x) {
  return 2 * x;
}

export default function sum(...values) {
  let total = 0;
  for (const v of values) total += v;
  return total;
}

export {cube, twice};
