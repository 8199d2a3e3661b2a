x = <br />;
y = <div >t</div>;
z = <vx:Item />;
