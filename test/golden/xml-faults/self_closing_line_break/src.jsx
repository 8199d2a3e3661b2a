x = <br/
>;
y = 1;
