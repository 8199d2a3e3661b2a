if (c) {vx:0,v:[div,[],[]]};
if (c) {vx:0,v:[a,[],[]]}; else {vx:0,v:[b,[],[]]};

