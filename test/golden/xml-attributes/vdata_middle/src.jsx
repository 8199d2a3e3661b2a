x = <List a=1 vdata={rows} b=2/>;
