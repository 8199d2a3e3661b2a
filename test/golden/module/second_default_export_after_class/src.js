export default class A {}
export default class B {}
