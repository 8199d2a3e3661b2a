x = list[0]
/'/.test(s);

