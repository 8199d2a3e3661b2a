s = `${
  a
  }`;
next();
