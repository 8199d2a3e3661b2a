s = `a${b}
more