const v = {vx:0,v:[div, [[["class"],0,"a"]],[
  {vx:0,v:[header,[],[
    {vx:0,v:[h1,[],[(title)]]}
  ]]},
  {vx:0,v:[ul,[],[
    {vx:0,v:[li,[],[{vx:2,v:"one"}]]}
  ]]}
]]};

