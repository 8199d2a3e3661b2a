x = __vx(Item, [ [["k"],0,1]],[["vdata"],0,{d}]);

