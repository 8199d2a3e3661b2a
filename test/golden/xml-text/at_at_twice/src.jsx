x = <div>@@ <b/>@@ <i/></div>;
