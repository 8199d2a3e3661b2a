a.class = b.class;
