a /* abc
def