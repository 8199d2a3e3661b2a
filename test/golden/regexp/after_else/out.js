if (a) b(); else /'/.test(s);

