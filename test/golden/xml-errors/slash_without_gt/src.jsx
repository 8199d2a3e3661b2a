x = <br/x>;
