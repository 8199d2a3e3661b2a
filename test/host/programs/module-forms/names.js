const _f = () => 'f';
const v = 'dashed';
export { _f as function, v as "a-b" };
export default 'the default';
