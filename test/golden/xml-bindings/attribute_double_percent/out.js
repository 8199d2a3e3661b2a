x = {vx:0,v:[a, [[["t"],3,($,ctr)=>{return(x + 1)},1], [["u"],3,($,ctr)=>{return( y )}]],[]]};

