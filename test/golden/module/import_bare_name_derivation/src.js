import 'lib/util/';
import "a-b.c-d.js";
import '$x';
import 'dir/_y.z';
import 'a b';
import 'été';
import  'm';
