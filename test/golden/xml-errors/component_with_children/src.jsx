x = <vx:Item>a</vx:Item>;
