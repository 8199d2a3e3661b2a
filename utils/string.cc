#include "utils/string.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "utils/codec.h"

namespace nubrix {

namespace {

template <typename T>
StringCore<T>* create_empty_core() {
  // A request of one unit: capacity 8, holding the single terminator.
  struct Block {
    StringCore<T> core;
    T units[8];
  };
  Block* b = (Block*)DefaultAllocator::alloc(sizeof(Block));
  b->core.length = 0;
  b->core.capacity = 8;
  b->core.data = b->units;
  memset(b->units, 0, sizeof(b->units));
  new (&b->core.refs) std::atomic<int32_t>(1);
  b->core.inline_data = false;
  return &b->core;
}

}  // namespace

template <typename T>
StringCore<T>* empty_string_core() {
  // Thread-safe one-time creation; the core lives until the process ends.
  static StringCore<T>* core = create_empty_core<T>();
  return core;
}

template StringCore<char>* empty_string_core<char>();
template StringCore<uint16_t>* empty_string_core<uint16_t>();
template StringCore<uint32_t>* empty_string_core<uint32_t>();

StringCore<char>* string_ops<char>::convert(const String16& s) {
  String r(encode(UTF8, s.data(), s.length()));
  return take_core(r);
}
StringCore<char>* string_ops<char>::convert(const String32& s) {
  String r(encode(UTF8, s.data(), s.length()));
  return take_core(r);
}
StringCore<uint16_t>* string_ops<uint16_t>::convert(const String& s) {
  String16 r(decode_to_uint16(UTF8, s.data(), s.length()));
  return take_core(r);
}
StringCore<uint16_t>* string_ops<uint16_t>::convert(const String32& s) {
  return convert(String(s));
}
StringCore<uint32_t>* string_ops<uint32_t>::convert(const String& s) {
  String32 r(decode_to_uint32(UTF8, s.data(), s.length()));
  return take_core(r);
}
StringCore<uint32_t>* string_ops<uint32_t>::convert(const String16& s) {
  return convert(String(s));
}

template <typename T>
String BasicString<T>::vformat(const char* fmt, va_list args) {
  char* block = nullptr;
  int n = vasprintf(&block, fmt, args);
  if (n < 0 || !block) {
    // vasprintf leaves the block undefined on failure: never use it.
    return String();
  }
  if (n == 0) {
    ::free(block);
    return String();
  }
  StringCore<char>* c = (StringCore<char>*)::malloc(sizeof(StringCore<char>));
  if (!c) {
    ::free(block);
    throw_out_of_memory(sizeof(StringCore<char>));
  }
  c->length = (uint32_t)n;
  c->capacity = (uint32_t)n + 1;
  c->data = block;
  new (&c->refs) std::atomic<int32_t>(1);
  c->inline_data = false;
  return String(c);
}

template <>
String BasicString<char>::to_string() const {
  return *this;
}
template <>
String BasicString<uint16_t>::to_string() const {
  return String(*this);
}
template <>
String BasicString<uint32_t>::to_string() const {
  return String(*this);
}

template class BasicString<char>;
template class BasicString<uint16_t>;
template class BasicString<uint32_t>;

}  // namespace nubrix
