export x;
export (y);
export [a, b];
export {c as d};
