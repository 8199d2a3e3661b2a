import '.hidden';
