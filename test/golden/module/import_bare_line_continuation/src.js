import  'a\
b';
import'\
'
z;
