import View, {Box, Text} from 'view';
