a;  b; 
 c;
d;

