import Toggle, {Button} from './button.jsx';
import {Event} from 'nubrix:host';

const log = [];
const b = new Button('Save');

// `onClick = f` sets the default listener; `onClick.on(f)` adds one more.
b.onClick = function (ev) {
  log.push(`default ${this.label} x=${ev.data.x} ${ev.name}`);
};
const extra = b.onClick.on(function (ev) {
  log.push('extra ' + (ev.sender === b));
});
console.log('click returns', b.click(1));
console.log(log.splice(0).join(' | '));

// Replacing the default listener keeps the added one.
b.onClick = function (ev) {
  log.push('second default');
  ev.returnValue = false;
};
console.log('cancelled click returns', b.click(2), log.splice(0).join(' | '));
console.log('off', b.onClick.off(extra), b.onClick.off(extra), 'count', b.onClick.count);
b.onClick = null;
console.log('no listener returns', b.click(3), 'clicks', b.clicks, 'count', b.onClick.count);

// Accessors trigger events too; other instances keep their own listeners.
b.onChange.on(function (ev) {
  log.push(`change ${ev.data.old} -> ${ev.data.value}`);
});
b.text = 'Store';
const other = new Button();
other.text = 'Quiet';
console.log(log.splice(0).join(' | '), '|', b.text, other.text, other.label === Button.prototype.label);

// The subclass: a cancelled click does not switch; an Event object passes as it is.
const t = new Toggle('T');
t.onswitch = function (ev) {
  log.push('switch ' + ev.data);
};
t.click(1);
t.click(2);
t.onClick.on(function (ev) {
  ev.returnValue = ev.data.x < 10;
});
console.log('big click', t.click(99), 'state', t.state, log.splice(0).join(' | '));
const ev = new Event('reset', {why: 'test'}, null);
t.on_reset = function (e) {
  log.push(`reset ${e === ev} ${e.data.why}`);
  e.returnValue = 'kept';
};
console.log('reset returns', t.reset(ev), log.splice(0).join(' | '));
console.log('noticer is per name', t.onClick === t.onClick, t.onClick !== t.onChange, t.onClick.name);
