s = `x${ name }y`;
t = `${  a + b	}`;
