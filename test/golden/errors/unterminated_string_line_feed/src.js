s = 'abc
x;
