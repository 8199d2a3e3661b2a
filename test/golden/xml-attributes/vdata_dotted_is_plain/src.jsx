x = <List vdata.x=1/>;
