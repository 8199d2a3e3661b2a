require('./2d.js') ;

