var a = 1;
