export class A { x = 1; }
