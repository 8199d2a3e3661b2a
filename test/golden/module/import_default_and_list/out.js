const { default:View,Box, Text} = require('view');

