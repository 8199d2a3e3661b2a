class A {
  x = "*/" + 1 /* c */;
  y = a*/re/;
  z = <p>a*/b<!-- k --></p>;
}
