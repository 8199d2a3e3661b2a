export default/x/g;
