x = {vx:1,v:[ns,item, [[["a"],0,1]],[]]};
y = {vx:1,v:[ns,item,[],[{vx:2,v:"t"}]]};

