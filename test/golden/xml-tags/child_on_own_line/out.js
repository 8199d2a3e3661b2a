x = {vx:0,v:[div,[],[
  {vx:0,v:[span,[],[]]}
]]};

