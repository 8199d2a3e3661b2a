s = 'a\
b' + 'c\d' + "e\ f" + `g\
h`;
t = 1;
