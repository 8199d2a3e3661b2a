o = {get: 1, set: 2, as: 3, async: 4, from: 5, of: 6, event: 7};
