import View from view;
