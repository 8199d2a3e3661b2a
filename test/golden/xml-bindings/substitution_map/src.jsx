x = <ul>${items.map(i => <li>${i}</li>)}</ul>;
