var as = 1, async = 2, from = 3, of = 4, get = 5, set = 6, event = 7;
