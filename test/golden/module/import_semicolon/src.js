import;
