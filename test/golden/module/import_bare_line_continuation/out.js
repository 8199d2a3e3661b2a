  require('a\
b');
require('\
')
z;

