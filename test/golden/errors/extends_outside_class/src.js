a extends b;
