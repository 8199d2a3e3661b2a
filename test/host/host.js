#!/usr/bin/env node
// A small script host for compiled modules, used to run jsxc's output for real.
//
//   node host.js --jsxc <path-to-jsxc> <entry.js|entry.jsx>
//
// Every '.js' or '.jsx' file that the program requires is compiled by jsxc into a
// temporary folder (once per run) and run inside a function that provides what the
// compiled text expects from its host:
//
//   require(name)      './x.js', '../y.jsx' and '/abs/z.js' are resolved against the
//                      requiring source file and compiled; 'nubrix:host' is built in;
//                      anything else ('path', 'fs') is Node's own require.
//   exports            one property per exported name, 'default' for the default export.
//   module._export     assigned by `export {a, b}`: the properties are merged into exports.
//   __extend(p, m, f)  class fields: defines each member of m on the prototype p.
//   __vx(T, attrs)     a view component in markup: returns {vx: 'component', type: T, attrs}
//                      (view.js), with a vdata attribute as a third argument.
//
// The built-in module 'nubrix:host' exports `Notifier`, a base class for classes with
// `event onX;` declarations (getNoticer, addDefaultListener, $trigger), and `Event`.
// 'nubrix:view' exports `interpret` (a compiled view value to a plain tree), `print`
// (the tree as indented text), `render` (both), `tag` (a named function to use as a tag)
// and `__vx`; see view.js.
//
// The module body runs in strict mode, as an ES module does. The compiled text keeps the
// source's line numbers, so stack traces name the source file and line.
// A compile error prints jsxc's message on standard error and exits with status 1.
'use strict';

const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const vm = require('vm');
const { createRequire } = require('module');
const view = require('./view.js');
const { __vx } = view;

// The notification part of the framework's view classes, reduced to what compiled event
// members call: `get onX()` returns the noticer, `set onX(f)` replaces the default
// listener, `triggerX(ev, is_ev)` calls the listeners.
class Event {
  constructor(name, data, sender) {
    this.name = name;
    this.data = data;
    this.sender = sender;
    this.returnValue = true; // a listener sets it to false to cancel the action
  }
}

// The listeners of one event of one object: the default listener (set through onX = f)
// runs first, then the others in the order they were added.
class Noticer {
  constructor(name, sender) {
    this.name = name;
    this.sender = sender;
    this.defaultListener = null;
    this.listeners = [];
  }
  get count() {
    return this.listeners.length + (this.defaultListener ? 1 : 0);
  }
  on(fn) {
    if (typeof fn !== 'function') throw new TypeError('listener must be a function');
    this.listeners.push(fn);
    return fn;
  }
  off(fn) {
    const i = this.listeners.indexOf(fn);
    if (i < 0) return false;
    this.listeners.splice(i, 1);
    return true;
  }
  // Calls every listener with ev (`this` is the sender) and returns ev. The list is
  // copied first, so a listener may add or remove listeners while it runs.
  trigger(ev) {
    const all = this.defaultListener ? [this.defaultListener, ...this.listeners] : [...this.listeners];
    for (const fn of all) fn.call(this.sender, ev);
    return ev;
  }
}

const noticers = new WeakMap(); // object -> Map(name -> Noticer)

class Notifier {
  getNoticer(name) {
    let all = noticers.get(this);
    if (!all) noticers.set(this, (all = new Map()));
    let n = all.get(name);
    if (!n) all.set(name, (n = new Noticer(name, this)));
    return n;
  }
  // `onX = func` replaces the default listener; null or undefined removes it.
  addDefaultListener(name, func) {
    if (func != null && typeof func !== 'function') throw new TypeError('listener must be a function');
    this.getNoticer(name).defaultListener = func || null;
  }
  // Calls the listeners of `name`. With is_ev, ev is already an Event and is passed as it
  // is; otherwise ev is the data of a new Event. Returns the event's returnValue, so the
  // caller learns whether a listener cancelled it (true when there is no listener).
  $trigger(name, ev, is_ev) {
    const event = is_ev ? ev : new Event(name, ev, this);
    const n = noticers.get(this)?.get(name);
    if (n) n.trigger(event);
    return event.returnValue;
  }
}

// 'nubrix:view' interprets and prints the values that markup compiles to (view.js).
const builtins = { 'nubrix:host': { Notifier, Event, Noticer }, 'nubrix:view': view };

// Defines class fields on the prototype, as the compiler's trailer
// `__extend(Class.prototype, {field: value, ...}, 1)` asks: writable, configurable and,
// like class methods, not enumerable. The flag is always 1 in compiled output.
function __extend(proto, members, flag) {
  void flag;
  for (const key of Reflect.ownKeys(members)) {
    Object.defineProperty(proto, key, { value: members[key], writable: true, configurable: true, enumerable: false });
  }
  return proto;
}

class CompileError extends Error {}

// One loader per run: a compiled-module cache and a temporary folder for jsxc's output.
function createHost(jsxc, options = {}) {
  const outDir = options.outDir || fs.mkdtempSync(path.join(os.tmpdir(), 'jsxc-host-'));
  if (!options.outDir) process.on('exit', () => fs.rmSync(outDir, { recursive: true, force: true }));
  const cache = new Map(); // absolute source path -> its exports object
  let count = 0;

  function compile(file) {
    // Sources below options.precompiled.src were compiled by a folder build beforehand.
    const pre = options.precompiled;
    if (pre && file.startsWith(pre.src + path.sep)) {
      return fs.readFileSync(path.join(pre.out, path.relative(pre.src, file)), 'utf8');
    }
    const out = path.join(outDir, `${++count}-${path.basename(file)}.js`);
    const r = childProcess.spawnSync(jsxc, [file, out], { encoding: 'utf8' });
    if (r.error) throw new CompileError(`cannot run ${jsxc}: ${r.error.message}`);
    if (r.status !== 0) throw new CompileError((r.stdout + r.stderr).trimEnd() || `jsxc failed on ${file}`);
    return fs.readFileSync(out, 'utf8');
  }

  function load(file) {
    if (cache.has(file)) return cache.get(file); // in a cycle: the exports assigned so far
    const exports = {};
    // No `module.exports` on purpose: code that probes for CommonJS (lodash does) then
    // takes the same path as under a native ES module loader.
    const mod = {
      id: file,
      set _export(obj) {
        Object.assign(exports, obj);
      },
    };
    cache.set(file, exports);
    try {
      // A shebang line cannot stand inside a function body; keep its line feed.
      const code = compile(file).replace(/^#!.*/, '');
      const body = vm.compileFunction('"use strict";' + code, ['require', 'exports', 'module', '__extend', '__vx'], {
        filename: file,
      });
      body.call(undefined, makeRequire(file), exports, mod, __extend, __vx);
    } catch (e) {
      cache.delete(file); // a module that failed is not half-loaded for the next caller
      throw e;
    }
    return exports;
  }

  function resolveFile(from, name) {
    const base = path.resolve(path.dirname(from), name);
    for (const f of [base, base + '.js', base + '.jsx']) {
      if (fs.existsSync(f) && fs.statSync(f).isFile()) return f;
    }
    throw new Error(`Cannot find module '${name}' required from ${from}`);
  }

  function makeRequire(from) {
    const nodeRequire = createRequire(from);
    return function require(name) {
      if (Object.prototype.hasOwnProperty.call(builtins, name)) return builtins[name];
      if (/^(\.{1,2}\/|\/)/.test(name)) {
        const file = resolveFile(from, name);
        if (/\.jsx?$/.test(file)) return load(file);
        return nodeRequire(file);
      }
      return nodeRequire(name);
    };
  }

  return { load: (file) => load(path.resolve(file)), require: makeRequire, compile, outDir };
}

function main(argv) {
  const usage = 'usage: node host.js --jsxc <path-to-jsxc> <entry.js|entry.jsx>';
  if (argv.length !== 3 || argv[0] !== '--jsxc') {
    console.error(usage);
    process.exit(2);
  }
  const host = createHost(path.resolve(argv[1]));
  try {
    host.load(argv[2]);
  } catch (e) {
    if (!(e instanceof CompileError)) throw e;
    console.error(e.message);
    process.exit(1);
  }
}

module.exports = { createHost, CompileError, Notifier, Event, Noticer, __extend, __vx };

if (require.main === module) main(process.argv.slice(2));
