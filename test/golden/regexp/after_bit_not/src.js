x = ~/'/.lastIndex;
