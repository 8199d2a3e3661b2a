if (!/'/.test(s)) {}

