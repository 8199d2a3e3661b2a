x = {vx:0,v:[a, [[["b"],0,{c, d: 1, [e]: 2, ...f, g() { return 1 }, get h() { return 2 }}]],[]]};

