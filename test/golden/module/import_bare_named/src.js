import './list-item.view.jsx';
