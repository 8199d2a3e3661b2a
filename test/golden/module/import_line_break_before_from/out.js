const View
= require('view').default;
View.run();

