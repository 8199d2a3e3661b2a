export default a;
export default b;
