// Relative imports resolve against this file's folder.
import '../util-tools.js';
import config from '../config.js';
import sum from '../math.js';

export function describe(values) {
  const sorted = [...values].sort();
  return `${config.name}: [${sorted.join(' ')}] total ${util_tools.pad(String(sum(...values)), 2)}`;
}
