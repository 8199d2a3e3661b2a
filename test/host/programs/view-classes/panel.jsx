// Views returned from class methods: a panel over a list of counters, a component that
// draws a bar, and a subclass that changes one part of the markup.
import {section, h1, ul, li, em, button} from './tags.js';

export class Meter {
  static render(attrs) {
    const full = Math.min(attrs.value, attrs.max);
    return '#'.repeat(full) + '.'.repeat(attrs.max - full) + (attrs.value > attrs.max ? '+' : '');
  }
}

export default class Panel {
  heading = 'Counters';
  max = 5;

  constructor(counters) {
    this.counters = counters;
  }
  item(c, i) {
    return (
      <li index=i label=c.label>
        ${c.label}: %{$.values[i]} <vx:Meter value=c.value max=this.max/>
        ${this.actions(c)}
      </li>
    );
  }
  actions(c) {
    return <button on.click=%%{ctr.addTo} step=c.step>+${c.step}</button>;
  }
  view() {
    const self = this;
    return <section title=%{ctr.heading} vdata={count: this.counters.length}>
      <h1>${this.heading} (%{$.values.length})</h1>
      <ul>${this.counters.map(function (c, i) { return self.item(c, i); })}</ul>
    </section>;
  }
}

// The subclass keeps the panel and replaces the actions with a total.
export class SummaryPanel extends Panel {
  heading = 'Summary';

  actions(c) {
    return <em>total ${c.value * 10}%</em>;
  }
}
