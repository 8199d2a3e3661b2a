/* header */var a;
