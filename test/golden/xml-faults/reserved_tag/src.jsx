x = <var/>;
