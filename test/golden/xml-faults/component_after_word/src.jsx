function f() { return<vx:Item/>; }
x = typeof<vx:A/>;
