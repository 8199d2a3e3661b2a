x = /abc
y;
