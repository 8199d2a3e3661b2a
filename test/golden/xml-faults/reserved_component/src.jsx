x = <vx:default/>;
