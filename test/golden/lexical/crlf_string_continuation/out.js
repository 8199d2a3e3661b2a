s = 'a\
b';

