x = <p>Hi %{name}, bye</p>;
