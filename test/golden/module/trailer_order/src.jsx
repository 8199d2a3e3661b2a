export default class App {
  title = 'x';
}
export var a = 1;
export function f() {}
class B { n = 2; }
