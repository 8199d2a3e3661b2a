x = /ab c/;
