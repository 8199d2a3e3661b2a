s = `outer ${`inner ${x} end`} done`;

