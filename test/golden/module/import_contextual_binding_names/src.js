import get from 'g';
import * as of from 'o';
import 'e' as event;
