a(); // note
b();
