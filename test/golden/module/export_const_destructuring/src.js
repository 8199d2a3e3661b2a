export const {a} = o;
