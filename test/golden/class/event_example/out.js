class A {
   get onChange() { return this.getNoticer('Change') }set onChange(func) { this.addDefaultListener('Change', func) }triggerChange(ev,is_ev) { return this.$trigger('Change',ev,is_ev) }
}

