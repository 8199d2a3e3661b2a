// Each module form, run natively as an ES module and compiled for the host.
import fn from './d-function.js';
import gen from './d-generator.js';
import asyncFn from './d-async.js';
import asyncArrow from './d-async-arrow.js';
import add from './d-arrow.js';
import Klass from './d-class.js';
import conditional from './d-conditional.js';
import str from './d-string.js';
import num from './d-number.js';
import { count, later, ticks } from './generators.js';
import * as bindings from './bindings.js';
import def, * as ns from './names.js';
import {} from './names.js';
import { function as f, "a-b" as ab } from './names.js';
import * as all from './all.js';
import data from './data.json' with { type: 'json' }
(function () { globalThis.iife = 'statement ends'; })()

const lines = []
lines.push(fn(), [...gen()].join(','), new Klass().name(), add(2, 3), conditional, str, num)
;[...count(3)].forEach((i) => lines.push('count ' + i));
(async () => {
  lines.push(await asyncFn(), await asyncArrow(), await later('later'));
  for await (const t of ticks()) lines.push(t);
  const { a, b, c, d, p, r, rest, x, y } = bindings;
  lines.push(JSON.stringify({ a, b, c, d, p, r, rest, x, y }));
  lines.push(def, typeof ns.function, ns['a-b'], ns.default, f(), ab);
  lines.push(Object.keys(all).sort().join(','), all.names.default, 'default' in all);
  lines.push(data.title, data.items.length, globalThis.iife);
  console.log(lines.join('\n'));
})();
