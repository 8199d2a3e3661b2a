import {a} 'x';
