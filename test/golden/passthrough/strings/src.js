a = 'single' + "double" + 'it\'s' + "q\"q" + '\n\t\x41\u00e9\0' + '' + "";
