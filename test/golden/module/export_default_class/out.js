 /*export*/ class App extends View {}

exports.default=App;
