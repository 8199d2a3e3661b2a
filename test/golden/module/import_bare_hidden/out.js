require('.hidden') ;

