x = <List a=1 vdata={rows}/>;
