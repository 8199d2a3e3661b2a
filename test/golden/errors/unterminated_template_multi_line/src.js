s = `abc
def