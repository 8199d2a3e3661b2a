// Values that class field initialisers in other modules refer to.
export const DEFAULT_SIDES = 4;
export const UNIT = 'cm';

let next = 0;
export function nextId() {
  next += 1;
  return next;
}
