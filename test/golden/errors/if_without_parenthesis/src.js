if x;
