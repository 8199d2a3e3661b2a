x = <vx:Item key="a" disabled/>;
