const Mixin = class extends mixin(A) {
  m() { return class {}; }
};
const Plain = class extends Base {};
class Outer {
  make() {
    return class Inner extends Outer {
      n() {}
    };
  }
}
