export {a, b};
