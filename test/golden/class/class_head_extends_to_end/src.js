class A extends B
