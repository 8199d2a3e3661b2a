x = <div a.=1/>;
