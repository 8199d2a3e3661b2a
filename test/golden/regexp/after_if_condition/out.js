if (ok) /'/.test(s) && go();

