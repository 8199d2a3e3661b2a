var é = 1;
