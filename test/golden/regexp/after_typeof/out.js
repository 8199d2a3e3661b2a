t = typeof /'/;

