a();/'/.test(s);
