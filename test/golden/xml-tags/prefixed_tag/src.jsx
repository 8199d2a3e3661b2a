x = <ns:item a=1/>;
y = <ns:item>t</ns:item>;
