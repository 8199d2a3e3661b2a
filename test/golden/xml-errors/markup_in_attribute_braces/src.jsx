x = <div a={<b/>}/>;
