s = `line1
line2
  line3`;
next();
