#include "utils/util.h"

#include <sys/mman.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>

#include "utils/buffer.h"

namespace nubrix {

namespace {

std::atomic<uint64_t> id_counter{10};
// The last draw of `random`. Concurrent calls may draw equal numbers; the seed itself
// is atomic so that they do not race on it.
std::atomic<uint32_t> random_seed{0};

uint32_t draw() {
  srand(random_seed.load(std::memory_order_relaxed) + (uint32_t)time(nullptr));
  uint32_t r = (uint32_t)rand();
  random_seed.store(r, std::memory_order_relaxed);
  return r;
}

int64_t clock_micros(clockid_t clock) {
  timespec ts;
  clock_gettime(clock, &ts);
  return (int64_t)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

String make_info() {
  char host[256];
  if (gethostname(host, 255) != 0) host[0] = 0;
  host[255] = 0;  // a truncated name is not terminated
  struct utsname u;
  if (uname(&u) != 0) return String::format("host: %s", host);
  return String::format("host: %s\nsys: %s\nmachine: %s\nnodename: %s\nversion: %s\nrelease: %s",
                        host, u.sysname, u.machine, u.nodename, u.version, u.release);
}

String make_language() {
  const char* names[] = {"LANG", "LC_ALL"};
  for (const char* name : names) {
    const char* value = getenv(name);
    if (!value || !*value) continue;
    String lang = String(value).split(".")[0];
    if (!lang.is_empty()) return lang;
  }
  return "en_US";
}

}  // namespace

void SimpleHash::update(const void* bytes, uint32_t length) {
  const int8_t* b = (const int8_t*)bytes;
  uint32_t h = hash_;
  for (uint32_t i = length; i > 0; i--) h = h * 33 + (uint32_t)(int32_t)b[i - 1];
  hash_ = h;
}

String SimpleHash::digest() const {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-";
  String out;
  uint32_t h = hash_;
  for (;;) {
    out.push(alphabet[h & 63]);
    if (h < 64) break;
    h >>= 6;
  }
  return out;
}

String hash(const void* bytes, uint32_t length) {
  SimpleHash h;
  h.update(bytes, length);
  return h.digest();
}

String hash(const String& text) {
  return hash(text.data(), text.length());
}

uint32_t random(uint32_t a, uint32_t b) {
  if (b < a) {
    uint32_t t = a;
    a = b;
    b = t;
  }
  uint32_t r = draw();
  uint32_t span = b - a + 1;  // 0 for the whole 32-bit range
  return span ? a + r % span : a + r;
}

int32_t random_weighted(const int32_t* weights) {
  int64_t total = 0;
  for (const int32_t* w = weights; w && *w > 0; w++) total += *w;
  if (total == 0) return -1;
  int64_t r = (int64_t)draw() % total;
  int32_t i = 0;
  for (; r >= weights[i]; i++) r -= weights[i];
  return i;
}

uint64_t iid() {
  return id_counter.fetch_add(1);
}

uint32_t iid32() {
  // 0 means "refused" or "all" wherever these ids are used: the wrap skips it.
  for (;;) {
    uint32_t id = (uint32_t)(id_counter.fetch_add(1) % 4294967295u);
    if (id != 0) return id;
  }
}

void set_iid_counter(uint64_t next) {
  id_counter.store(next);
}

int64_t time_second() {
  return (int64_t)time(nullptr);
}

int64_t time_micro() {
  return clock_micros(CLOCK_REALTIME);
}

int64_t time_monotonic() {
  return clock_micros(CLOCK_MONOTONIC);
}

String version() {
  return "v0.5.2";
}

// The cached texts are never destroyed, so they stay usable in exit handlers.
String info() {
  static const String* text = new String(make_info());
  return *text;
}

String platform() {
  return "linux";
}

String system_name() {
  return "Linux";
}

String language() {
  static const String* text = new String(make_language());
  return *text;
}

void populate_pages(void* data, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
  if (bytes < ((size_t)1 << 20)) return;
  uintptr_t page = (uintptr_t)sysconf(_SC_PAGESIZE);
  uintptr_t from = ((uintptr_t)data + page - 1) & ~(page - 1);
  uintptr_t to = ((uintptr_t)data + bytes) & ~(page - 1);
  if (to > from) madvise((void*)from, to - from, MADV_POPULATE_WRITE);
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace nubrix
