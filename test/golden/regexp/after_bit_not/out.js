x = ~/'/.lastIndex;

