// Imported as a namespace with `import './greet.js' as greet`.
export function hello(who) {
  return `hello, ${who}!`;
}

const label = 'greet-default';
export default label;
