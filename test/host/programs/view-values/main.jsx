// What the view interpreter does with the values it meets: attribute values of every
// type, ${} children of every type, and the values it refuses.
import {render, interpret, tag, isView} from 'nubrix:view';

const span = tag('span');
class Point {
  constructor(x, y) {
    this.x = x;
    this.y = y;
  }
}

const pt = new Point(1, 2);
const empty = <span/>;
const anon = [function () {}][0];
console.log(render(<span s="a\"b" n=-1.5 big=BigInt(10) yes=true no=false nil=null und=undefined
                         arr=[1,[2,[3]]] pt=pt fn=anon named=Point obj={"odd key": 1, ok: 'x'}
                         deep=[[[[['x']]]]] view=[empty] re=/a+/g t=`sum ${1 + 1}` not=!pt/>));

// Children: nested arrays flatten, booleans and null vanish, numbers and bigints become
// text, and a function may return markup.
function cell(v) {
  return <span>${v}</span>;
}
console.log(render(<span>${[1, [BigInt(2), [cell('x')]]]}${0}${''}${false}${null}${[]}</span>));

// A bound value is computed on every interpretation, with that call's data.
let calls = 0;
const counter = <span n=%{++calls + $.base}/>;
console.log(render(counter, {base: 10}), render(counter, {base: 20}), calls);

// isView tells compiled view values from other objects.
console.log(isView(<span/>), isView({vx: 9}), isView(null), isView('span'), isView([<span/>]));

// Refusals: a plain object as a child, a tag without a name, an unknown attribute kind.
const refused = [
  function () { return interpret(<span>${{a: 1}}</span>); },
  function () { return interpret(<span>${cell}</span>); },
  function () { return interpret({vx: 0, v: [function () {}, [], []]}); },
  function () { return interpret({vx: 0, v: [span, [[['a'], 7, 1]], []]}); },
  function () { return interpret({vx: 0, v: [span, [], 'text']}); },
  function () { return tag(''); },
];
for (const f of refused) {
  try {
    f();
    console.log('accepted');
  } catch (e) {
    console.log(e.constructor.name + ': ' + e.message);
  }
}
