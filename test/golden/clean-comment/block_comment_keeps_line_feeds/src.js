a();
/* one
   two
   three */
b();
