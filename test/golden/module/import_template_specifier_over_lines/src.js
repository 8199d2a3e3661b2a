import`
ort`


import `a
b` as x;
z;
