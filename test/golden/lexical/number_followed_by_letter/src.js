x = 5px;
