x = {vx:0,v:[p,[],[{vx:2,v:"say \"hi\""}]]};

