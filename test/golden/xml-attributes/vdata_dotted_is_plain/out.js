x = {vx:0,v:[List, [[["vdata","x"],0,1]],[]]};

