// The widget classes the markup names as tags. The view runtime only needs their names
// here; a real one would create an instance of each.
export class Panel {}
export class Input {}
export class List {}
export class Row {}
export class Label {}
export class Button {}

// Icons are written with a prefix, <icon:Star/>: the prefix and the name are both
// references in scope.
export const icon = {name: 'icon'};
export class Star {}
