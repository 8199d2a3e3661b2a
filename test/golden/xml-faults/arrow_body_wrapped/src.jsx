x = items.map((i) => <li>${i}</li>);
y = items.map(i =>
  <li/>);
