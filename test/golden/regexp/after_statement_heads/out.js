while (a) /'/.test(s) && f();
for (;;) /`/.exec(s);
with (o) /"/g.lastIndex;
while (a) b / 2 / c;
for (const x of y) z = x / 2 / 3;

