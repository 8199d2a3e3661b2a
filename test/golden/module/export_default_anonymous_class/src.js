export default class {}
