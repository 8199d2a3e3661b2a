function f(a, b) {
	if (a) {
		return b;
	}
    return  a  ;
}

