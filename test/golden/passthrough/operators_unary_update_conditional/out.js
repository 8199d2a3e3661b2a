++a; b--; -c; +d; !e; ~f; x = a ? b : c;

