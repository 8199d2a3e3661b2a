x = <a v={x<y}/>;
