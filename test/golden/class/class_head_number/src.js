class 1 {}
