(class P { z = 3; });
