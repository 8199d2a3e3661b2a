x = <a.b:c.d/>;
y = <vx.a:B/>;
