a = #b;
