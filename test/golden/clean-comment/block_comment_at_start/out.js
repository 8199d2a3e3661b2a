var a;

