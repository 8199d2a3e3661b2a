s = `${
  a
  }`;
next();

