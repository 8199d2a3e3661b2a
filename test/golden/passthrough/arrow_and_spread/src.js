f = (a, ...b) => a + b.length;
g = x=>x;
