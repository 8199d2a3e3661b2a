a();/'/.test(s);

