module._export= {a, b};

