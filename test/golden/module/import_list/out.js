const {join, dirname} = require('path');

