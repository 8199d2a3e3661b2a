const View= require('view').default;

