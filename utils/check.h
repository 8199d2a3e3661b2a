// Contract checks of the debug and sanitizer builds. The build defines NUBRIX_CHECKS=1
// there (see CMakeLists.txt); elsewhere the checks compile to nothing, so the core
// accessors stay as cheap as a plain index.
#ifndef NUBRIX_UTILS_CHECK_H
#define NUBRIX_UTILS_CHECK_H

#ifndef NUBRIX_CHECKS
#define NUBRIX_CHECKS 0
#endif

#if NUBRIX_CHECKS
#include <cassert>
// Stops the process with the failed condition and the message when cond is false.
#define NUBRIX_ASSERT(cond, message) assert((cond) && message)
#else
#define NUBRIX_ASSERT(cond, message) ((void)0)
#endif

#endif
