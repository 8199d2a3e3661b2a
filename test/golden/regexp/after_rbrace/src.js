function f() {}
/'/.test(s);
