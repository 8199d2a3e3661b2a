export default "x";
