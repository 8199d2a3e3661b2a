half = total / 2;
