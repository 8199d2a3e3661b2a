if (c) <div/>;
if (c) <a/>; else <b/>;
