export default class {
  name() { return 'anonymous class'; }
}
