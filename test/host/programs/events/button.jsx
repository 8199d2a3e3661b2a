// Classes with event declarations on top of the host's Notifier.
import {Notifier} from 'nubrix:host';

export class Button extends Notifier {
  event onClick;
  event onChange;
  label = 'OK';
  clicks = 0;

  constructor(label) {
    super();
    if (label) this.label = label;
  }
  click(x) {
    this.clicks++;
    return this.triggerClick({x});
  }
  set text(value) {
    const old = this.label;
    this.label = value;
    this.triggerChange({old, value});
  }
  get text() {
    return this.label;
  }
}

// A subclass adds events of its own; names keep their case after "on".
export default class Toggle extends Button {
  event onswitch;
  event on_reset;
  state = false;

  click(x) {
    if (!super.click(x)) return false;
    this.state = !this.state;
    this.triggerswitch(this.state);
    return true;
  }
  reset(ev) {
    return this.trigger_reset(ev, true);
  }
}
