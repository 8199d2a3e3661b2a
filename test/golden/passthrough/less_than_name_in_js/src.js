if (i<n && a<b.c) x = y<z;
