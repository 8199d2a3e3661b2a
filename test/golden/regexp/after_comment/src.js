x = // note
/'/;
