x = {vx:0,v:[List, [],[{vx:2,v:"t"}],[["vdata"],0,{rows}]]};

