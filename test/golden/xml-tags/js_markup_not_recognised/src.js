x = <div/>;
if (c) <div/>;
