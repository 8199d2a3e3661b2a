x = <p>a <b.</p>;
