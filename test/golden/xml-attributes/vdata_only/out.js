x = {vx:0,v:[List, [],[],[["vdata"],0,{rows}]]};

