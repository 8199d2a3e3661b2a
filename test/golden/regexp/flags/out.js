x = /a/gimuy;

