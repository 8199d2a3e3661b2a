import View 'view';
