import A, {b} from c;
