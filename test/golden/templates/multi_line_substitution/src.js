s = `a${
  b +
  c
}d`;
next();
