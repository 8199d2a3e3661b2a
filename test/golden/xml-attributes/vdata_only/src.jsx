x = <List vdata={rows}/>;
