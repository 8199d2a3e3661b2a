/* a
 * b
 */
var x = 1; /* inline */ x++;
/**/y;

