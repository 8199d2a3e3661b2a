x = // note
/'/;

