b = x instanceof /'/.constructor;
