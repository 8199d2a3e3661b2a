class V extends View {
   get onTap() { return this.getNoticer('Tap') }set onTap(func) { this.addDefaultListener('Tap', func) }triggerTap(ev,is_ev) { return this.$trigger('Tap',ev,is_ev) }
  /*size = 1*/
}

__extend(V.prototype,{
  size: 1,
},1);
