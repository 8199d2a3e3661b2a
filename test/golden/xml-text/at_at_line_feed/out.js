x = {vx:0,v:[pre,[],[{vx:2,v:"a\n  b"}
]]};

