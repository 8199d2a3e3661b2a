x = {vx:0,v:[p,[],[{vx:2,v:"a b c"} 	]]};

