x = <p>Hello
world</p>;
