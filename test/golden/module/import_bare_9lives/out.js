require('9lives') ;

