class Panel extends View { count = 0; title = 'x'; }
