x = {vx:0,v:[a.b,[],[]]};
y = {vx:0,v:[a.b,[],[{vx:2,v:"t"}]]};
z = {vx:1,v:[ui.kit,Btn,[],[]]};

