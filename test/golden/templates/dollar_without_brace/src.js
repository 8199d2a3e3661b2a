s = `cost: $5 and $`;
