t = typeof /'/;
