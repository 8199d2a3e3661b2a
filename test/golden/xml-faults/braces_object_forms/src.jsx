x = <a b={c, d: 1, [e]: 2, ...f, g() { return 1 }, get h() { return 2 }}/>;
