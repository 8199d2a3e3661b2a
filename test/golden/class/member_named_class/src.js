obj.class = 1;
x = obj.class;
