x = {vx:0,v:[input,
  [[["disabled"
],0,""]],[]]};

