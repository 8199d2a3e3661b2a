switch (x) { case 1: break; default: y(); }

