class A B {}
