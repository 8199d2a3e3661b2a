for (const m of /'/g.exec(s)) {}
