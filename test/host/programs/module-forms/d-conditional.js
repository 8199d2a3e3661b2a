const X = function () {};
export default typeof X === 'function' ? 'a' : 'b';
