x = <p>a  b	c</p>;
