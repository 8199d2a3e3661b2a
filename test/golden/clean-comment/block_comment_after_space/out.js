a b;

