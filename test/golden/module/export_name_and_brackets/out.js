module._export= x;
module._export= (y);
module._export= [a, b];
module._export= {  d:c};

