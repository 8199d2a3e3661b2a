/* a
 b */x;
