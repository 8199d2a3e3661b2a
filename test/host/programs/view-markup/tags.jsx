// The tags the markup of this program names: plain functions made by tag(), classes,
// and a namespace object for the prefixed tags.
import {tag} from 'nubrix:view';

export const div = tag('div');
export const p = tag('p');
export const b = tag('b');
export const ul = tag('ul');
export const li = tag('li');
export const pre = tag('pre');
export const ui = {name: 'ui'};

export class Button {}
export class Field {}

// A component that renders its own children from its attributes.
export class Badge {
  static render(attrs, $, ctr) {
    return [attrs.label, ' ', <b>${attrs.count}</b>, ctr ? ctr.suffix : null];
  }
}

// A component without render: it stays a marked node without children.
export class Spacer {}
