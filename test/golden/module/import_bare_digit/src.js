import './2d.js';
