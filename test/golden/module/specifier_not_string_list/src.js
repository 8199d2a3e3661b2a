import {a} from b;
