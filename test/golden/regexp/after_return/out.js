function f(s) { return /'/.test(s); }

