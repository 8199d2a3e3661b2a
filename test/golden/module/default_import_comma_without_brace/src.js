import A, * as B from 'x';
