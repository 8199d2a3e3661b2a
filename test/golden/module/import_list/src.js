import {join, dirname} from 'path';
