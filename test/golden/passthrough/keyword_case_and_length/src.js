var Class = 1, IF = 2, Static = 3, instanceOf = 4, imports = 5, x = 6, instanceofs = 7, Export = 8;
