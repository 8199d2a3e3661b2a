import {Shape} from './shape.js';
import Square from './square.js';
import {Triangle} from './triangle.js';

const s = new Square(3);
console.log(s.describe());
console.log('label', s.label, '| id', s.id, '| own keys', Object.keys(s).join(','));
s.size = 5;
console.log('after set', s.size, s.area);
try {
  s.size = -1;
} catch (e) {
  console.log(e.name, e.message, s.size);
}

const t = new Triangle(2);
console.log(t.describe(), t.color, t instanceof Shape);
console.log('shared id', t.id === s.id, 'shared tags', t.tags === s.tags);
s.tags.push('big');
console.log('tags seen through triangle', t.tags.join());
t.name = 'tri';
console.log('own field after assignment', t.name, Object.keys(t).join(','), new Triangle(1).name);

const plain = new Shape(1);
console.log(plain.get(), '|', plain.set(2), '|', plain.from('x'), '|', plain['quoted name']());
console.log('corners', [...t.corners()].join(' '), [...s.corners()].length);
console.log('kinds', Shape.kind, Square.kind, Triangle.kind);
const many = Square.of(1, 2);
console.log('of', many.map(function (q) { return q.area; }).join(','), many[1] instanceof Square);
console.log('made', Shape.made);
console.log('field is data', JSON.stringify(Object.getOwnPropertyDescriptor(Shape.prototype, 'sides')));
