x = {vx:0,v:[List,
  [
  [["a"],0,1]],[],[["vdata"],0,{rows}]]};

