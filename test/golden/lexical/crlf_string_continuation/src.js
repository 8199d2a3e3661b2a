s = 'a\
b';
