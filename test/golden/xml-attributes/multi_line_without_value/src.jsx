x = <input
  disabled
/>;
