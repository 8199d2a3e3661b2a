export default 42
