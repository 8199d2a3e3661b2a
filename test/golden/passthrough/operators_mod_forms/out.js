a%b; x %= 2; y % z;

