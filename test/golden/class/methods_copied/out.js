class K {
  static create() { return new K(); }
  static async load() { await 1; }
  static *ids() { yield 1; }
  static async *stream() {}
  static 'named'() {}
  async run() {}
  async *pull() {}
  * gen() {}
  'quoted name'(a, b) { return a + b; }
  as() {}
  of() {}
  from() {}
  ;
}

