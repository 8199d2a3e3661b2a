var a\u002d = 1;
