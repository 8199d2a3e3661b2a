s = 'a\
b';

