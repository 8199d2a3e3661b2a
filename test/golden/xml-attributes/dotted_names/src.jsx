x = <a on.click={go} a.b.c=1/>;
