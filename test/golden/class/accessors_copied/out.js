class S {
  get size() { return this._n; }
  set size(v) { this._n = v; }
  static get count() { return 0; }
  static set count(n) {}
  get 'label'() { return ''; }
  get() { return 1; }
  set(v) {}
  static get() {}
  get from() { return 2; }
  set event(e) {}
}

