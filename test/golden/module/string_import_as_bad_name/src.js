import 'x' as from;
