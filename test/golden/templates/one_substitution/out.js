s = `a${b}c`;

