if (!/'/.test(s)) {}
