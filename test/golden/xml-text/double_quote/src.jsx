x = <p>say "hi"</p>;
