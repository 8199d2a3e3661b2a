function f() {}
/'/.test(s);

