a>>>=b;c=d<<2;e=f>>>1;g=h===i;j=k!==l;m=n<=o;p=q>=r;s=t**u;v**=w;x%=y;a=b/c/d;

