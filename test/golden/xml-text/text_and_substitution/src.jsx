x = <div class="box">Hello ${name}!</div>;
