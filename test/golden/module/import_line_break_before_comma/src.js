import A
, {b} from 'm';
