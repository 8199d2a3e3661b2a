// Runs real code through the compiler: every file of lodash-es is compiled and loaded
// through the host, then a set of functions is called both as loaded by the host and as
// imported natively by Node, on the same inputs, and the JSON of the results compared.
//
//   node lodash-check.js --jsxc <path-to-jsxc> <lodash-es folder>
//
// Prints "ok N name" per function that agrees and "FAIL ..." for every difference or
// file that does not load; exits 1 when anything failed.
//
// The package is compiled by one folder build (`jsxc <lodash-es> <tmp>`), and every
// file must load.
'use strict';

const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { pathToFileURL } = require('url');
const { createHost } = require('./host.js');

// Each case calls the function it is given; both copies get fresh, equal inputs.
const cases = {
  chunk: (f) => f(['a', 'b', 'c', 'd', 'e'], 2),
  compact: (f) => f([0, 1, false, 2, '', 3, null, NaN]),
  concat: (f) => f([1], 2, [3], [[4]]),
  difference: (f) => f([2, 1, 5], [2, 3]),
  flatten: (f) => f([1, [2, [3, [4]], 5]]),
  flattenDeep: (f) => f([1, [2, [3, [4]], 5]]),
  uniq: (f) => f([2, 1, 2, 3, 1]),
  uniqBy: (f) => f([2.1, 1.2, 2.3], Math.floor),
  zip: (f) => f(['a', 'b'], [1, 2], [true, false]),
  unzip: (f) => f([['a', 1, true], ['b', 2, false]]),
  zipObject: (f) => f(['a', 'b'], [1, 2]),
  zipObjectDeep: (f) => f(['a.b[0].c', 'a.b[1].d'], [1, 2]),
  range: (f) => [f(4), f(-4), f(1, 5), f(0, 20, 5), f(0, -4, -1)],
  intersection: (f) => f([2, 1], [2, 3], [3, 2]),
  union: (f) => f([2], [1, 2], [3]),
  without: (f) => f([2, 1, 2, 3], 1, 2),
  fromPairs: (f) => f([['a', 1], ['b', 2]]),
  sortBy: (f) => f([{ u: 'fred', a: 48 }, { u: 'barney', a: 36 }, { u: 'fred', a: 40 }], ['u', 'a']),
  orderBy: (f) => f([{ u: 'fred', a: 48 }, { u: 'barney', a: 36 }, { u: 'fred', a: 40 }], ['u', 'a'], ['asc', 'desc']),
  groupBy: (f) => [f([6.1, 4.2, 6.3], Math.floor), f(['one', 'two', 'three'], 'length')],
  countBy: (f) => f(['one', 'two', 'three'], 'length'),
  keyBy: (f) => f([{ dir: 'left', code: 97 }, { dir: 'right', code: 100 }], 'dir'),
  partition: (f) => f([1, 2, 3, 4, 5], (n) => n % 2),
  camelCase: (f) => ['Foo Bar', '--foo-bar--', '__FOO_BAR__', 'déjà vu'].map((s) => f(s)),
  kebabCase: (f) => ['Foo Bar', 'fooBar', '__FOO_BAR__', 'XMLHttpRequest'].map((s) => f(s)),
  snakeCase: (f) => ['Foo Bar', 'fooBar', '--FOO-BAR--'].map((s) => f(s)),
  startCase: (f) => ['--foo-bar--', 'fooBar', '__FOO_BAR__'].map((s) => f(s)),
  capitalize: (f) => f('FRED'),
  deburr: (f) => f('déjà vu, Ærøskøbing'),
  words: (f) => [f('fred, barney, & pebbles'), f('fred, barney, & pebbles', /[^, ]+/g), f('camelCaseHTMLParser')],
  padStart: (f) => [f('abc', 6), f('abc', 6, '_-'), f('abc', 2)],
  truncate: (f) => f('hi-diddly-ho there, neighborino', { length: 24, separator: /,? +/ }),
  escape: (f) => f('fred, barney, & <pebbles> "q" \'s\''),
  template: (f) =>
    f('<% for (const u of users) { %><li><%- u %></li><% } %> ${greeting} <%= n + 1 %>')({
      users: ['<a>', 'b'],
      greeting: 'hi',
      n: 41,
    }),
  merge: (f) => f({ a: [{ b: 2 }, { d: 4 }], x: { y: 1 } }, { a: [{ c: 3 }, { e: 5 }], x: { z: 2 } }),
  defaultsDeep: (f) => f({ a: { b: 2 } }, { a: { b: 1, c: 3 } }),
  cloneDeep: (f) => {
    const src = { a: [1, { b: new Date(0) }], m: new Map([['k', 1]]), re: /x/g };
    const copy = f(src);
    return [copy.a[1] !== src.a[1], copy.a[1].b.getTime(), [...copy.m], String(copy.re), copy];
  },
  isEqual: (f) => [
    f({ a: [1, { b: 2 }] }, { a: [1, { b: 2 }] }),
    f({ a: 1 }, { a: '1' }),
    f(new Set([1, 2]), new Set([2, 1])),
    f([NaN], [NaN]),
  ],
  get: (f) => [f({ a: [{ b: { c: 3 } }] }, 'a[0].b.c'), f({ a: 1 }, 'a.b.c', 'dflt'), f({ a: { b: 2 } }, ['a', 'b'])],
  set: (f) => f({ a: [{ b: { c: 3 } }] }, 'x[0].y.z', 5),
  pick: (f) => f({ a: 1, b: '2', c: 3 }, ['a', 'c']),
  omit: (f) => f({ a: 1, b: '2', c: 3 }, ['a', 'c']),
  mapValues: (f) => f({ fred: { age: 40 }, pebbles: { age: 1 } }, 'age'),
  invert: (f) => f({ a: 1, b: 2, c: 1 }),
  toPairs: (f) => f({ a: 1, b: 2 }),
  toPath: (f) => f('a[0].b["c.d"].e'),
  sum: (f) => f([4, 2, 8, 6]),
  mean: (f) => f([4, 2, 8, 6]),
  clamp: (f) => [f(-10, -5, 5), f(10, -5, 5)],
  times: (f) => f(4, (i) => i * i),
  isPlainObject: (f) => [f({}), f(Object.create(null)), f([]), f(new Date())],
  isTypedArray: (f) => [f(new Uint8Array(2)), f([])],
  isDate: (f) => [f(new Date()), f('2020')],
  curry: (f) => f((a, b, c) => [a, b, c])(1)(2)(3),
  flow: (f) => f([(a, b) => a + b, (n) => n * n])(2, 3),
  memoize: (f) => {
    let calls = 0;
    const m = f((n) => ++calls + n);
    return [m(1), m(1), m(2), calls];
  },
};

function outcome(fn) {
  try {
    return JSON.stringify(fn(), (k, v) => (v === undefined ? '(undefined)' : v));
  } catch (e) {
    return 'throws ' + e.message;
  }
}

async function main(argv) {
  if (argv.length !== 3 || argv[0] !== '--jsxc') {
    console.error('usage: node lodash-check.js --jsxc <path-to-jsxc> <lodash-es folder>');
    process.exit(2);
  }
  const dir = path.resolve(argv[2]);
  const jsxc = path.resolve(argv[1]);
  // The whole package is compiled by one folder build, as a project would be; the host
  // then loads those outputs instead of starting the compiler once per file.
  const outDir = fs.mkdtempSync(path.join(os.tmpdir(), 'jsxc-lodash-'));
  process.on('exit', () => fs.rmSync(outDir, { recursive: true, force: true }));
  const build = childProcess.spawnSync(jsxc, [dir, outDir], { encoding: 'utf8' });
  if (build.error || build.status !== 0) {
    console.log(`FAIL build: ${build.error ? build.error.message : (build.stdout + build.stderr).trimEnd()}`);
    process.exit(1);
  }
  const host = createHost(jsxc, { precompiled: { src: dir, out: outDir } });
  const files = fs.readdirSync(dir).filter((f) => f.endsWith('.js')).sort();
  let failed = 0; // files that did not load
  let differ = 0; // functions whose results differ
  let loaded = 0;

  for (const f of files) {
    let error = null;
    try {
      host.load(path.join(dir, f));
      loaded++;
    } catch (e) {
      error = e;
    }
    if (error) {
      console.log(`FAIL load ${f}: ${error.message.split('\n')[0]}`);
      failed++;
    }
  }
  console.log(`loaded ${loaded} of ${files.length} files`);

  let n = 0;
  for (const [name, run] of Object.entries(cases)) {
    n++;
    const file = path.join(dir, name + '.js');
    const hosted = host.load(file).default;
    const native = (await import(pathToFileURL(file).href)).default;
    if (typeof hosted !== 'function' || hosted === native) {
      console.log(`FAIL ${n} ${name}: the host did not load its own copy`);
      differ++;
      continue;
    }
    const got = outcome(() => run(hosted));
    const want = outcome(() => run(native));
    if (want.startsWith('throws ')) {
      // Every case is a valid call: a throw means the case itself is wrong.
      console.log(`FAIL ${n} ${name}: the native call ${want}`);
      differ++;
    } else if (got === want) {
      console.log(`ok ${n} ${name}`);
    } else {
      console.log(`FAIL ${n} ${name}: host ${got} native ${want}`);
      differ++;
    }
  }
  console.log(`lodash-check: ${n - differ} of ${n} functions agree, ${failed} files failed`);
  failed += differ;
  process.exit(failed ? 1 : 0);
}

main(process.argv.slice(2));
