x = <div a=1 static/>;
