x = <a.b/>;
y = <a.b>t</a.b>;
z = <ui.kit:Btn/>;
