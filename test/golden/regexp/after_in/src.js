b = 'source' in /'/;
