b = 'source' in /'/;

