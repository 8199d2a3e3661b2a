f(export);
