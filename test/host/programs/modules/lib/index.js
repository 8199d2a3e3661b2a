// Passes on names from another module through `export {a, b}`.
import {twice} from '../math.js';

const double = twice;
function half(x) {
  return x / 2;
}

export {half, double};
