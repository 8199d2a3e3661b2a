x = {vx:0,v:[div, [[["class"],0,"box"]],[{vx:2,v:"Hello "},(name),{vx:2,v:"!"}]]};

