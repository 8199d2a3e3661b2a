a;
x = /b