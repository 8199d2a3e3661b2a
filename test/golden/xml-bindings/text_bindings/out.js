x = {vx:0,v:[p,[],[{vx:3,v:($,ctr)=>{return(a)}},{vx:3,v:($,ctr)=>{return(b)},m:1}]]};

