// A base class with fields, accessors, static members and contextual-keyword methods.
import {DEFAULT_SIDES, UNIT, nextId} from './constants.js';

export class Shape {
  name = 'shape';
  sides = DEFAULT_SIDES;
  unit = UNIT;
  // Fields live on the prototype: one value, evaluated once, shared by all instances.
  id = nextId();
  tags = [];
  label = PREFIX + (DEFAULT_SIDES > 3 ? 'many' : 'few');
  label = PREFIX + `${DEFAULT_SIDES} sides`;

  constructor(size) {
    this._size = size;
    Shape.made += 1;
  }
  get size() {
    return this._size;
  }
  set size(value) {
    if (value < 0) throw new RangeError('negative size ' + value);
    this._size = value;
  }
  get area() {
    return 0;
  }
  describe() {
    return `${this.name}(${this.sides}) size ${this._size}${this.unit} area ${this.area}`;
  }
  get() {
    return 'method named get';
  }
  set(v) {
    return 'method named set ' + v;
  }
  from(x) {
    return 'from ' + x;
  }
  'quoted name'() {
    return 'quoted';
  }
  static of(...sizes) {
    return sizes.map(function (s) { return new this(s); }, this);
  }
  static get kind() {
    return 'Shape/' + this.name;
  }
  *corners() {
    for (let i = 1; i <= this.sides; i++) yield i;
  }
}
Shape.made = 0;

const PREFIX = 'label: ';
