function f() {
  export default 1;
}
