// A tiny view runtime for the program: turns the values that markup compiles to into
// HTML text. {vx:0,v:[tag,attrs,children]} is an element, {vx:1,...} a prefixed one,
// {vx:2,v:text} text, {vx:3,v:fn} text bound to data, and the host's __vx(Type, attrs)
// a component, rendered by Type.render(props).
export const div = 'div';
export const ul = 'ul';
export const li = 'li';
export const b = 'b';
export const p = 'p';

function escape(text) {
  return text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
}

function attrValue(attr, data) {
  return attr[1] === 3 ? attr[2](data, null) : attr[2];
}

export function props(attrs, data) {
  const result = {};
  for (const attr of attrs) result[attr[0].join('.')] = attrValue(attr, data);
  return result;
}

function element(tag, attrs, children, data) {
  let text = '<' + tag;
  for (const attr of attrs) text += ` ${attr[0].join('.')}="${attrValue(attr, data)}"`;
  return text + '>' + render(children, data) + '</' + tag + '>';
}

export function render(node, data) {
  if (Array.isArray(node)) return node.map(function (n) { return render(n, data); }).join('');
  if (node === null || node === undefined || node === false) return '';
  if (typeof node !== 'object') return escape(String(node));
  if (node.vx === 0) return element(node.v[0], node.v[1], node.v[2], data);
  if (node.vx === 1) return element(node.v[0] + ':' + node.v[1], node.v[2], node.v[3], data);
  if (node.vx === 2) return node.v;
  if (node.vx === 3) return escape(String(node.v(data, null)));
  if (node.vx === 'component') return node.type.render(props(node.attrs, data), data);
  throw new TypeError('not a view node: ' + JSON.stringify(node));
}
