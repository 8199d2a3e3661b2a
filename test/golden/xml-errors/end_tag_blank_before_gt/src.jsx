x = <p>a</p >;
