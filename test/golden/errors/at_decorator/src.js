x = 1;
@dec
