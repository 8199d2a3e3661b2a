const list_item_view = require('./list-item.view.jsx') ;

