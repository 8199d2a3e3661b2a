const A = class {  get onX() { return this.getNoticer('X') }set onX(func) { this.addDefaultListener('X', func) }triggerX(ev,is_ev) { return this.$trigger('X',ev,is_ev) } };

