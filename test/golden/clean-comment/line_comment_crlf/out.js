a; 
b;

