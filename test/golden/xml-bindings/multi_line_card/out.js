const view = (
  {vx:0,v:[div, [[["class"],0,"card"], [["on","click"],0,{open}]],[
    __vx(Avatar, [[["src"],3,($,ctr)=>{return(user.photo)}]]),
    {vx:0,v:[span,[],[{vx:3,v:($,ctr)=>{return(user.name)},m:1},{vx:2,v:" ("},(count),{vx:2,v:")"}]]}
  ]]}
);

