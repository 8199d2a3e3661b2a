f(x)
