// Small process-wide services: a short string hash, pseudo-random numbers,
// process-unique ids, clocks, the framework version and facts about the host.
#ifndef NUBRIX_UTILS_UTIL_H
#define NUBRIX_UTILS_UTIL_H

#include <cstdint>

#include "utils/object.h"
#include "utils/string.h"

namespace nubrix {

// The string hash (h = h * 33 + signed byte, from the last byte to the first, starting
// at 5381), continued over any number of updates.
class SimpleHash : public Object {
 public:
  SimpleHash() : hash_(5381) {}
  void update(const void* bytes, uint32_t length);
  void update(const String& text) { update(text.data(), text.length()); }
  [[nodiscard]] uint32_t hash_code() const { return hash_; }
  // The hash as one to six characters of "A-Za-z0-9_-", least significant first
  // (6 bits a character; 0 gives "A").
  [[nodiscard]] String digest() const;

 private:
  uint32_t hash_;
};

// The digest of the bytes.
String hash(const void* bytes, uint32_t length);
String hash(const String& text);

// A pseudo-random number in [a, b] (the bounds may come in either order). Each call
// reseeds the C library generator with the last draw plus the current second.
uint32_t random(uint32_t a, uint32_t b);
// Picks an index of `weights`, a list of positive weights ended by a value <= 0, each
// with a chance in proportion to its weight. -1 when the list holds no weight.
int32_t random_weighted(const int32_t* weights);

// Process-unique ids from one atomic counter that starts at 10.
uint64_t iid();
// The same counter taken modulo 4294967295, never 0 (the value 0 is skipped).
uint32_t iid32();
// Sets the value the counter hands out next (for restoring a counter, and for tests
// that reach the wrap of the 32-bit ids).
void set_iid_counter(uint64_t next);

// Wall-clock seconds, wall-clock microseconds and monotonic microseconds.
int64_t time_second();
int64_t time_micro();
int64_t time_monotonic();

// "v0.5.2"
String version();
// "host: ...\nsys: ...\nmachine: ...\nnodename: ...\nversion: ...\nrelease: ..."
// (computed once).
String info();
// "linux"
String platform();
// "Linux"
String system_name();
// The user's language from LANG, or LC_ALL when LANG is unset or empty, cut at the
// first "." ("en_GB.UTF-8" gives "en_GB"); "en_US" without either (computed once).
String language();

// Maps in the pages of a block that is about to be written whole with one request,
// instead of one page fault per page. Blocks below 1 MiB, and kernels that do not know
// the request, are left to fault page by page as usual.
void populate_pages(void* data, size_t bytes);

}  // namespace nubrix

#endif
