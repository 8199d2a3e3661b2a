import '9lives';
