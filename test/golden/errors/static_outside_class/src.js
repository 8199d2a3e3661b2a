static x = 1;
