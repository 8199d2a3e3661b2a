// A model: a counter with fields (defaults on the prototype) and an event fired on change.
import {Notifier} from 'nubrix:host';

export class Counter extends Notifier {
  event onChange;
  label = 'count';
  value = 0;
  step = 1;

  constructor(label, step) {
    super();
    this.label = label;
    if (step) this.step = step;
  }
  add(times) {
    const old = this.value;
    this.value += this.step * (times || 1);
    return this.triggerChange({old, value: this.value});
  }
}
