x = __vx(Item,[]);
y = __vx(ui.Panel,[]);

