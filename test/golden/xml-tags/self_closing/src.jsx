a = <br/>;
