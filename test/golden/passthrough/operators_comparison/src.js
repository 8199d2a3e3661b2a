a == b; a != b; a === b; a !== b; a < b; a > b; a <= b; a >= b;
