x = <List vdata={rows}>t</List>;
