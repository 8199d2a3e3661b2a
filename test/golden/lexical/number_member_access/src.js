a = 0.5.toFixed(1) + 1..toString() + 1.e1.toFixed() + 0x10.toString(2);
b = 10n.toString() + 01.toString() + 08.5.toFixed() + 1e3.toFixed() + 0o7.x;
