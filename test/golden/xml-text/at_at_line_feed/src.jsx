x = <pre>@@a
  b</pre>;
