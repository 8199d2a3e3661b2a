x = <List vdata/>;
