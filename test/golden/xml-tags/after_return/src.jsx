function f() {
  return <div/>;
}
