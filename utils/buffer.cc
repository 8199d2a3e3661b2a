#include "utils/buffer.h"

#include "utils/console.h"
#include "utils/error.h"

namespace nubrix {

void throw_out_of_memory(size_t bytes) {
  throw Error(ERR_OUT_OF_MEMORY, "Out of memory: cannot allocate %zu bytes", bytes);
}

void throw_length_overflow(uint64_t count) {
  throw Error(ERR_LENGTH_OVERFLOW, "Length overflow: %llu units exceed the limit of %u",
              (unsigned long long)count, kMaxLength);
}

void fatal_weak_resize() {
  fatal("utils/buffer", 96, "realloc", "Unreachable code");
}

}  // namespace nubrix
