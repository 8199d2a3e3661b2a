export var a = 1;
