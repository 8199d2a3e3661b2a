y = c ? <a : b;
