const v = <div class="a">
  <header>
    <h1>${title}</h1>
  </header>
  <ul>
    <li>one</li>
  </ul>
</div>;
