import * as from from 'x';
