x = items.map((i) => ({vx:0,v:[li,[],[(i)]]}));
y = items.map(i =>
  ({vx:0,v:[li,[],[]]}));

