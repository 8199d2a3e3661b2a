// Every import form of the dialect, against modules that export in every way.
import sum, {square, cube, VERSION} from './math.js';
import * as math from './math.js';
import * as path from 'path';
import {basename} from 'path';
import './util-tools.js';
import './greet.js' as greet;
import names from './names.js';
import config from './config.js';
import {describe} from './lib/report.js';
import {half, double} from './lib/index.js';

console.log('sum', sum(1, 2, 3), 'square', square(4), 'cube', cube(3), 'version', VERSION);
console.log('namespace', Object.keys(math).sort().join(','));
console.log('same function', math.square === square, math.default === sum);
console.log('path', path.extname('a/b.jsx'), basename('/x/y/z.js'));
console.log('bare import', typeof util_tools, util_tools.pad('7', 3), util_tools.upper('abc'));
console.log(greet.hello('host'), greet.default);
console.log('names', names.list.join('+'), names.count);
console.log('config', config.name, config.debug);
console.log(describe([3, 1, 2]));
console.log('re-exported', half(10), double(10));
