class A {
  g = <L vdata={a: `
`}
    b=1/>;
  h = 2;
}
