const A = class { event onX; };
