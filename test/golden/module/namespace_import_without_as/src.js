import * from 'x';
