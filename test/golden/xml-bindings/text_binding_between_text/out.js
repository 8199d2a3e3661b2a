x = {vx:0,v:[p,[],[{vx:2,v:"Hi "},{vx:3,v:($,ctr)=>{return(name)}},{vx:2,v:", bye"}]]};

