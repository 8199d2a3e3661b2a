var é = 1;

