x = <a b={this}/>;
