{ /'/.test(s); }

