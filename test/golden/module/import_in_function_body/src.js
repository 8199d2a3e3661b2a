function f() {
  import a from 'a';
}
