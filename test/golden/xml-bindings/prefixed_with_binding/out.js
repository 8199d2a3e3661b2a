x = {vx:1,v:[ui,Button, [[["title"],3,($,ctr)=>{return(user.name)}], [["on","click"],0,{go}]],[]]};

