s = `a${b}c`;
