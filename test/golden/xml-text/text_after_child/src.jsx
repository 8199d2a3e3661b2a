x = <p><b/>tail</p>;
