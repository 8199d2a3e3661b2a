var \u0030 = 1;
