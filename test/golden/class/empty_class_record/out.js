class A {}

