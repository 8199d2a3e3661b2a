class A {
  v = <div
    vdata={d}>
    a
  </div>;
}
