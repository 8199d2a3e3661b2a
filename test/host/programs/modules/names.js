// A default export of an expression.
const list = ['ann', 'bob'];

export default {
  list,
  count: list.length,
};
