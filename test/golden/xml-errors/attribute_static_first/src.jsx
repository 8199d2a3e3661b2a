x = <div static/>;
