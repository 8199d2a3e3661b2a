export const b = 2;
/* end */