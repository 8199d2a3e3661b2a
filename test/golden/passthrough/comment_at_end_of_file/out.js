a(); // end
