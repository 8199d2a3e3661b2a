x = {vx:0,v:[ul,[],[(items.map(i => ({vx:0,v:[li,[],[(i)]]})))]]};

