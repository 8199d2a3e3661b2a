// Imported by two modules: it runs once.
console.log('config loaded');

export default {name: 'demo', debug: false};
