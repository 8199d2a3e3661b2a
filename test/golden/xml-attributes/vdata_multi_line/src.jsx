x = <List
  vdata={rows}
  a=1/>;
