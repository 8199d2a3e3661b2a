x = /a/gimuy;
