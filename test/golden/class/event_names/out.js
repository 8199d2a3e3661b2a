class E {
   get onx1() { return this.getNoticer('x1') }set onx1(func) { this.addDefaultListener('x1', func) }triggerx1(ev,is_ev) { return this.$trigger('x1',ev,is_ev) }
   get on_x() { return this.getNoticer('_x') }set on_x(func) { this.addDefaultListener('_x', func) }trigger_x(ev,is_ev) { return this.$trigger('_x',ev,is_ev) }
   get onClick() { return this.getNoticer('Click') }set onClick(func) { this.addDefaultListener('Click', func) }triggerClick(ev,is_ev) { return this.$trigger('Click',ev,is_ev) }
   get onclick() { return this.getNoticer('click') }set onclick(func) { this.addDefaultListener('click', func) }triggerclick(ev,is_ev) { return this.$trigger('click',ev,is_ev) }
    get on$() { return this.getNoticer('$') }set on$(func) { this.addDefaultListener('$', func) }trigger$(ev,is_ev) { return this.$trigger('$',ev,is_ev) }
}

