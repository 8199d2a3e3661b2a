x = <a b = 1 d />;
