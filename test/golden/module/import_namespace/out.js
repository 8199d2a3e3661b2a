const  path = require('path');

