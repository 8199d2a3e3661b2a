x = 1e;
