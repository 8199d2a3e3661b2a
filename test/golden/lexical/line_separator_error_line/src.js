a; b; c;
)
