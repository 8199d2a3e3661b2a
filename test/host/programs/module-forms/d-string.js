export default 'a string';
