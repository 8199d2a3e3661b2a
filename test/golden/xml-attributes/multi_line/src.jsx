x = <div
  a="1"
  b={c}
/>;
