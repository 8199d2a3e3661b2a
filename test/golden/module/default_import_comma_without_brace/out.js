const [A, B]= (($)=>[$.default,$])(require('x'));

