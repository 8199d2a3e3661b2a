v = <p>a \c \
d</p>;
x;
