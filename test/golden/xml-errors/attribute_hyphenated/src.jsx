x = <div data-x="1"/>;
