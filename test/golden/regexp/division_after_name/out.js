half = total / 2;

