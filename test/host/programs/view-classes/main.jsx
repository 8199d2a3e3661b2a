import {render, interpret} from 'nubrix:view';
import {Counter} from './counter.js';
import Panel, {SummaryPanel} from './panel.jsx';

const a = new Counter('apples');
const b = new Counter('pears', 2);
const panel = new Panel([a, b]);
const data = {values: []};
function refresh() {
  data.values = panel.counters.map(function (c) { return c.value; });
}
refresh();

// Every change refreshes the data and prints the view again.
const log = [];
for (const c of [a, b]) {
  c.onChange = function (ev) {
    log.push(`${this.label} ${ev.data.old}->${ev.data.value}`);
    refresh();
  };
}
panel.addTo = 'handler';
console.log(render(panel.view(), data, panel));
a.add();
b.add(2);
console.log(log.join(', '));
console.log(render(panel.view(), data, panel));

// A listener that cancels: the change has happened, the event reports the refusal.
b.onChange.on(function (ev) { ev.returnValue = ev.data.value <= 5; });
console.log('accepted', a.add(), b.add(), 'values', data.values.join(','));

// The subclass shares the fields it does not redeclare; its own heading wins.
const summary = new SummaryPanel([a]);
console.log(render(summary.view(), data, summary));
console.log(summary.max, summary.heading, Panel.prototype.heading, Object.keys(summary).join(','));

// The tree beneath the text: a component node per row, with its drawn bar.
const rows = interpret(panel.view(), data, panel)[0].children[1].children;
console.log(rows.map(function (r) { return r.attrs.label + '=' + r.children[3].children[0].text; }).join(' '));
