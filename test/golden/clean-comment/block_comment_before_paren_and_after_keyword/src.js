f/**/(x); return/**/x;
