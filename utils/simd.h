// SSE2 for the ASCII fast paths, where the target has it (every x86-64 processor).
// Elsewhere (arm64, for one), or when NUBRIX_SCALAR is defined, which a test build
// does to run them, the same functions use their scalar loops alone, with the same
// results.
#ifndef NUBRIX_UTILS_SIMD_H
#define NUBRIX_UTILS_SIMD_H

#if defined(__SSE2__) && !defined(NUBRIX_SCALAR)
#define NUBRIX_SSE2 1
#include <emmintrin.h>
#else
#define NUBRIX_SSE2 0
#endif

#endif
