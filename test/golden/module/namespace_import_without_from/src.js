import * as ns 'x';
