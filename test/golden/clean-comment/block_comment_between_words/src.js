var/**/a = 1;
