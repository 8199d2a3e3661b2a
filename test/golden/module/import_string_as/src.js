import 'util/my-tools.js' as tools;
