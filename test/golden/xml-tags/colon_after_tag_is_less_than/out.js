y = c ? <a : b;

