x = <vx:Item vdata={d} k=1/>;
