x = <p>50%, $5 @home %%x a > b {c} 1 < 2</p>;
