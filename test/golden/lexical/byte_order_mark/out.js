var a = 1;

