x = <p>\xyz</p>;
