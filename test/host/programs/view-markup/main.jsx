import {render, interpret, print} from 'nubrix:view';
import {div, p, b, ul, li, pre, ui, Button, Field, Badge, Spacer} from './tags.jsx';

function go() {}
const items = ['one', 'two', 'three'];

// Every kind of attribute on one element, written over several lines.
const attrs = <div id="main" hidden count=3 sum=(1+2) pick=items.length?'many':'few'
                   list=[1,'a'] obj={go} on.click=go a.b.c="deep" title=%{$.name}
                   value=%%{$.text} vdata={rows: items.length}/>;
console.log(render(attrs, {name: 'Ann', text: 'hi'}));
const tree = interpret(attrs, {name: 'Ann', text: 'hi'})[0];
console.log(tree.type, tree.tag, tree.prefix, Object.keys(tree.attrs).join(','),
            JSON.stringify(tree.bound), tree.attrs['on.click'] === go, tree.vdata.rows);

// Text: runs of whitespace collapse to one space, whitespace-only text between elements
// disappears, @@ keeps whitespace and line breaks until the next @@.
const text =
  <div>
    Hello,
       world!   "quoted" \u0041\t
    <p>  </p>
    <pre>@@  two  spaces
  next line@@   collapsed   again  </pre>
    <p>cost: 5$ and 10% @ noon</p>
  </div>;
console.log(render(text));

// ${} children: a list from map, nested arrays, view values from a function, and values
// that produce no node.
function row(x, i) {
  return <li index=i class=%{i === $.selected ? 'on' : 'off'}>${i + 1}. ${x}</li>;
}
const list = <ul>${items.map(row)}${[[<li>nested</li>], null, false, true, undefined]}${items.length}</ul>;
console.log(render(list, {selected: 1}));
console.log(render(list, {selected: 2}).split('\n').filter(function (l) { return l.includes('class'); }).join(' |'));

// Bound text with a data object and a controller; %%{} is marked as a model binding.
const ctr = {suffix: '!', greet(n) { return 'Dear ' + n; }};
const bound = <p>%{ctr.greet($.name)}, you have %%{$.count} new ${'messages'}</p>;
console.log(render(bound, {name: 'Bob', count: 2}, ctr));
console.log(render(bound, {name: 'Eve', count: 0}, ctr).split('\n')[1]);

// Prefixed tags, components (with and without render) and vdata on each.
const mixed =
  <div>
    <ui:Button label="OK" vdata=7/>
    <ui:Field name=%{$.field}>
      <b>inner</b>
    </ui:Field>
    <vx:Badge label="new" count=%{$.count} vdata={kind: 'badge'}/>
    <vx:Spacer/>
  </div>;
console.log(render(mixed, {field: 'email', count: 4}, ctr));
const nodes = interpret(mixed, {field: 'email', count: 4}, null)[0].children;
console.log(nodes.map(function (n) { return n.type + ':' + n.prefix + ':' + n.tag; }).join(' '));
console.log(print(nodes[2]));

// The same markup value renders again with other data; the value itself is not changed.
console.log(print(interpret(<p>%{$}</p>, 'first')), print(interpret(<p>%{$}</p>, 'second')));
