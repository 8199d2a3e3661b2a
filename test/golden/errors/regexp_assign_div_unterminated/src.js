x = /=abc
