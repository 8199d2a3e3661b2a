s = 'a\
b';
t = 1;
