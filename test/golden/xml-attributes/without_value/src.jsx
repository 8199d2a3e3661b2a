x = <input disabled/>;
