x = {vx:0,v:[a, [[["class"],0,"c"], [["in"],0,1], [["typeof"],0,2], [["get"],0,3], [["export"],0,4], [["import"],0,5], [["default"],0,""]],[]]};

