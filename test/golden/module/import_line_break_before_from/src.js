import View
  from 'view';
View.run();
