<div/>;
if (c) <a/>; else <b/>;
{ <p/>; }
