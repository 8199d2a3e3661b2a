// A small view interpreter for the values that markup compiles to, built into the host
// as the module 'nubrix:view'. It turns a view value into a plain tree and prints the tree
// as indented text, one node per line, so that programs can show what their markup built.
//
// The compiled shapes it reads (T, P are references in scope, A attribute lists, C child
// lists, D a vdata attribute written after the children):
//
//   {vx:0,v:[T,A,C]} or {vx:0,v:[T,A,C,D]}      an element with a plain tag
//   {vx:1,v:[P,T,A,C]} or {vx:1,v:[P,T,A,C,D]}  an element with a prefixed tag P:T
//   {vx:2,v:"text"}                             text
//   {vx:3,v:($,ctr)=>{...}} and ...,m:1}        text bound with %{} and %%{}
//   __vx(T, A) or __vx(T, A, D)                 a view component (see __vx below)
//   [["a","b"],0,VALUE]                         an attribute a.b with a value
//   [["a"],3,($,ctr)=>{...}] and ...,1]         an attribute bound with %{} and %%{}
//
// The tree it builds:
//
//   {type: 'element', tag, prefix, attrs, bound, children, vdata}
//   {type: 'component', tag, attrs, bound, children, vdata}
//   {type: 'text', text, value, source}
//
// `tag` and `prefix` are names (a function's or class's name, or the string itself);
// `prefix` is null for a plain tag. `attrs` maps each attribute's key (its name segments
// joined with ".") to its value in source order; a bound attribute holds what its binding
// function returned for the data object ($) and controller (ctr) given to `interpret`, and
// `bound` maps its key to "%" or "%%". `vdata` is the vdata attribute's value, or
// undefined when there is none. A text node's `source` says where it came from: "text"
// (literal markup text), "expr" (a `${}` child), "%" or "%%" (bound text); `value` is the
// value before it was turned into `text`.
//
// A `${}` child may yield a view value, an array (flattened, to any depth), a string,
// number or bigint (text), or null, undefined, true or false (nothing, so that
// `${cond && <p/>}` works). Anything else is an error: silently printing "[object
// Object]" would hide a fault in the program.
//
// A component's type may define `static render(attrs, $, ctr)`; what it returns is
// interpreted like a `${}` child and becomes the component node's children.
'use strict';

// `<vx:Item key="a"/>` compiles to `__vx(Item, attrs)`, with a vdata attribute as a third
// argument. The call only records its arguments; `interpret` gives them their meaning.
function __vx(type, attrs, vdata) {
  return { vx: 'component', type, attrs, vdata };
}

// Tags in markup are references to something in scope. `tag('div')` makes a function
// named div that programs can use as a tag (or as a prefix) when there is no class.
function tag(name) {
  if (typeof name !== 'string' || name === '') throw new TypeError('tag name must be a non-empty string');
  const fn = function () {};
  Object.defineProperty(fn, 'name', { value: name });
  return fn;
}

// The name of a tag or prefix reference.
function nameOf(ref, what) {
  if (typeof ref === 'string') return ref;
  if (typeof ref === 'function' && ref.name) return ref.name;
  if (ref !== null && typeof ref === 'object' && typeof ref.name === 'string') return ref.name;
  throw new TypeError(`${what} is not a named function, class or string: ${formatValue(ref)}`);
}

function isView(value) {
  return (
    value !== null &&
    typeof value === 'object' &&
    (((value.vx === 0 || value.vx === 1) && Array.isArray(value.v)) ||
      value.vx === 2 ||
      value.vx === 3 ||
      value.vx === 'component')
  );
}

// Reads an attribute list into attrs (key -> value) and bound (key -> "%" or "%%").
function readAttrs(list, $, ctr, node) {
  if (!Array.isArray(list)) throw new TypeError('attribute list is not an array: ' + formatValue(list));
  node.attrs = {};
  node.bound = {};
  for (const attr of list) {
    const [key, value, mark] = readAttr(attr, $, ctr);
    node.attrs[key] = value;
    if (mark) node.bound[key] = mark;
  }
}

// One attribute: [names, 0, value] or [names, 3, binding] with an optional trailing 1.
// Returns [key, value, bound mark or null].
function readAttr(attr, $, ctr) {
  if (!Array.isArray(attr) || !Array.isArray(attr[0]) || attr[0].length === 0) {
    throw new TypeError('not an attribute: ' + formatValue(attr));
  }
  const key = attr[0].join('.');
  if (attr[1] === 0) return [key, attr[2], null];
  if (attr[1] === 3 && typeof attr[2] === 'function') {
    return [key, attr[2]($, ctr), attr[3] === 1 ? '%%' : '%'];
  }
  throw new TypeError(`attribute ${key} has an unknown kind: ${formatValue(attr[1])}`);
}

function text(value, source) {
  return { type: 'text', text: String(value), value, source };
}

// Appends the nodes that one child value stands for to out.
function interpretInto(value, $, ctr, out) {
  if (Array.isArray(value)) {
    for (const v of value) interpretInto(v, $, ctr, out);
    return out;
  }
  if (value === null || value === undefined || typeof value === 'boolean') return out;
  if (typeof value === 'string' || typeof value === 'number' || typeof value === 'bigint') {
    out.push(text(value, 'expr'));
    return out;
  }
  if (!isView(value)) throw new TypeError('not a view value: ' + formatValue(value));
  switch (value.vx) {
    case 0:
    case 1: {
      const v = value.v;
      const at = value.vx === 1 ? 1 : 0; // where the tag stands in v
      const node = { type: 'element', tag: nameOf(v[at], 'tag'), prefix: null };
      if (value.vx === 1) node.prefix = nameOf(v[0], 'prefix');
      readAttrs(v[at + 1], $, ctr, node);
      if (!Array.isArray(v[at + 2])) throw new TypeError(`children of ${node.tag} are not an array`);
      node.children = [];
      for (const child of v[at + 2]) interpretInto(child, $, ctr, node.children);
      node.vdata = v.length > at + 3 ? readAttr(v[at + 3], $, ctr)[1] : undefined;
      out.push(node);
      return out;
    }
    case 2:
      out.push(text(value.v, 'text'));
      return out;
    case 3:
      if (typeof value.v !== 'function') throw new TypeError('bound text without a binding function');
      out.push(text(value.v($, ctr), value.m === 1 ? '%%' : '%'));
      return out;
    default: {
      const node = { type: 'component', tag: nameOf(value.type, 'component'), prefix: null };
      readAttrs(value.attrs, $, ctr, node);
      node.vdata = value.vdata === undefined ? undefined : readAttr(value.vdata, $, ctr)[1];
      node.children = [];
      if (typeof value.type.render === 'function') {
        interpretInto(value.type.render(node.attrs, $, ctr), $, ctr, node.children);
      }
      out.push(node);
      return out;
    }
  }
}

// Interprets a view value (or an array of them, or any `${}` child value) with the data
// object $ and the controller ctr; returns the list of nodes it stands for.
function interpret(value, $, ctr) {
  return interpretInto(value, $, ctr, []);
}

// A short, stable text for a value: strings quoted as JSON, functions by name, arrays
// and objects one level after another (a class instance led by its class name).
function formatValue(value, depth = 0) {
  switch (typeof value) {
    case 'string':
      return JSON.stringify(value);
    case 'bigint':
      return value + 'n';
    case 'function':
      return value.name ? `[function ${value.name}]` : '[function]';
    case 'symbol':
      return value.toString();
    case 'object':
      break;
    default:
      return String(value); // number, boolean, undefined
  }
  if (value === null) return 'null';
  if (depth >= 4) return '...';
  if (Array.isArray(value)) return '[' + value.map((v) => formatValue(v, depth + 1)).join(',') + ']';
  if (isView(value)) return '[view]';
  if (value instanceof RegExp) return String(value);
  const proto = Object.getPrototypeOf(value);
  const lead = proto && proto !== Object.prototype && proto.constructor ? proto.constructor.name : '';
  const body = Object.keys(value).map((k) => {
    const name = /^[A-Za-z_$][\w$]*$/.test(k) ? k : JSON.stringify(k);
    return name + ':' + formatValue(value[k], depth + 1);
  });
  return lead + '{' + body.join(',') + '}';
}

function attrText(node) {
  let s = '';
  for (const key of Object.keys(node.attrs)) {
    const mark = node.bound[key];
    const value = formatValue(node.attrs[key]);
    s += ` ${key}=` + (mark ? `${mark}{${value}}` : value);
  }
  if (node.vdata !== undefined) s += ' vdata=' + formatValue(node.vdata);
  return s;
}

function printInto(node, indent, lines) {
  const pad = '  '.repeat(indent);
  if (node.type === 'text') {
    if (node.source === 'text') lines.push(pad + JSON.stringify(node.text));
    else lines.push(pad + (node.source === 'expr' ? '$' : node.source) + '{' + formatValue(node.value) + '}');
    return;
  }
  let name = node.tag;
  if (node.type === 'component') name = 'vx:' + name;
  else if (node.prefix !== null) name = node.prefix + ':' + name;
  lines.push(pad + name + attrText(node));
  for (const child of node.children) printInto(child, indent + 1, lines);
}

// Prints a node or a list of nodes: an element or component as its name and attributes
// in source order (bound ones as key=%{value} or key=%%{value}, vdata last), its
// children indented by two spaces below it; literal text as a JSON string, `${}` text as
// ${value} and bound text as %{value} or %%{value}. No line feed after the last line.
function print(nodes, indent = 0) {
  const lines = [];
  for (const node of Array.isArray(nodes) ? nodes : [nodes]) printInto(node, indent, lines);
  return lines.join('\n');
}

// interpret, then print.
function render(value, $, ctr) {
  return print(interpret(value, $, ctr));
}

module.exports = { __vx, tag, isView, interpret, print, render, formatValue };
