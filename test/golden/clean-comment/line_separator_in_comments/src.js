a; // one b; /* two three */ c;
d;
