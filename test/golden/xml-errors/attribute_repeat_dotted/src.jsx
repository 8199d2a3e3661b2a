x = <div a.b=1 ab=2/>;
