x = <vx:Item/>;
y = <vx:ui.Panel/>;
