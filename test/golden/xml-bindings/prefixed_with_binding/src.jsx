x = <ui:Button title=%{user.name} on.click={go}/>;
