x = {vx:0,v:[br,[],[] ]};
y = {vx:0,v:[div,[], [{vx:2,v:"t"}]]};
z = __vx(Item,[] );

