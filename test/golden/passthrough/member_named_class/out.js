a.class = b.class;

