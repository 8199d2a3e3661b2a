// Builds the contacts panel, drives it through its events and prints
// the view tree after each step.
import {interpret, print} from 'nubrix:view';
import {Contact, ContactBook} from './contacts.js';
import BookView from './book-view.jsx';

const book = new ContactBook();
const log = [];
// Refuse a second contact with the same name.
book.onAdd = function (ev) {
  const known = this.contacts.some((c) => c.name === ev.data.name);
  if (known) ev.returnValue = false;
};
book.onAdd.on((ev) => log.push(`add ${ev.data.name}: ${ev.returnValue}`));

book.add(new Contact('Ann Lee', '555-0101', true));
book.add(new Contact('Bob Stone'));
book.add(new Contact('Dana Moss', '555-0199'));
book.add(new Contact('Ann Lee', '555-0000'));
console.log(log.join('\n'));

const panel = new BookView(book);
const data = {query: '', selected: 0};
panel.clear = function clear() {
  data.query = '';
};
book.onSelect.on((ev) => {
  data.selected = ev.data.id;
});

function show(step) {
  const tree = interpret(panel.view(data), data, panel);
  console.log(`\n== ${step}`);
  console.log(print(tree));
  return tree;
}

show('all contacts');
book.select(book.contacts[2]);
data.query = 'an';
const tree = show('query "an", Dana selected');

// Press Clear: find the button in the tree and call its handler.
const button = tree[0].children.find((n) => n.tag === 'Button');
button.attrs['on.click']();
console.log(`\nClear pressed: query ${JSON.stringify(data.query)}`);
data.query = 'zed';
show('query "zed"');
