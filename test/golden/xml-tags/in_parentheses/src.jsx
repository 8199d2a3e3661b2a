x = (<div/>);
