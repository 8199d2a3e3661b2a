{ /'/.test(s); }
