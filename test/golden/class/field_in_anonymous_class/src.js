const A = class {
  x = 1;
};
