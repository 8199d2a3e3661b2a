export default class App extends View {}
