var a﻿= 1, b = 2 +       3 ; c　= a;
