import as from 'x';
