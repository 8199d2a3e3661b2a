export 42;
