// The command-line driver: `jsxc SRC OUT [--clean-comment]`.
#ifndef NUBRIX_TOOLS_DRIVER_H
#define NUBRIX_TOOLS_DRIVER_H

namespace nubrix {

// Runs the whole program for the given command line; returns the exit status.
int run_driver(int argc, char** argv);

}  // namespace nubrix

#endif
