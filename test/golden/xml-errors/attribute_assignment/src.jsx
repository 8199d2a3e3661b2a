x = <div a=b=c/>;
