// A default-exported subclass that overrides fields and an accessor.
import {Shape} from './shape.js';

export default class Square extends Shape {
  name = 'square';
  get area() {
    return this.size * this.size;
  }
  describe() {
    return '[' + super.describe() + ']';
  }
}
