b = x instanceof /'/.constructor;

