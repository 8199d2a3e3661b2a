export default a + b;
