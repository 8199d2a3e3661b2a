import 42;
