// A class whose base is an expression, and a class expression.
import {Shape} from './shape.js';

function withColor(Base, color) {
  return class extends Base {
    get color() { return color; }
  };
}

export class Triangle extends withColor(Shape, 'red') {
  name = 'triangle';
  sides = 3;
  get area() {
    return Math.round(Math.sqrt(3) / 4 * this.size * this.size * 100) / 100;
  }
}
