function f() {
  const a= require('a').default;
}

