import View from 'view';
