// Runs the example application of examples/view-app, so that its output is checked
// with the other programs.
import '../../../../examples/view-app/main.jsx';
