import {a as b, c} from './m.js';
