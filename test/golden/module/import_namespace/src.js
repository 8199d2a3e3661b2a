import * as path from 'path';
