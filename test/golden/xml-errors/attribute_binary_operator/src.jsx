x = <div a=b+1/>;
