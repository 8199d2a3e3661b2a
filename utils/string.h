// BasicString is the framework's text value: a copy-on-write handle over a shared,
// atomically counted StringCore. String holds 8-bit units (bytes, usually UTF-8),
// String16 UTF-16 code units and String32 32-bit units. Copies share the core; a
// change to a shared core first makes a private copy. Every empty string of one unit
// type shares one core, created once and never freed. The data is always followed by
// a 0 unit, so c_str() can be handed to C functions.
#ifndef NUBRIX_UTILS_STRING_H
#define NUBRIX_UTILS_STRING_H

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "utils/buffer.h"
#include "utils/object.h"

namespace nubrix {

template <typename T>
class BasicString;
typedef BasicString<char> String;
typedef BasicString<uint16_t> String16;
typedef BasicString<uint32_t> String32;

// The shared record behind strings. When the units were allocated together with the
// record (`inline_data`), `data` points just past it; an adopted block is separate.
template <typename T>
struct StringCore {
  uint32_t length;
  uint32_t capacity;
  T* data;
  std::atomic<int32_t> refs;
  bool inline_data;
};

template <typename T>
StringCore<T>* empty_string_core();

// Conversions between unit widths (through UTF-8), defined with the codec.
template <typename T>
struct string_ops;
template <>
struct string_ops<char> {
  static StringCore<char>* convert(const BasicString<uint16_t>& s);
  static StringCore<char>* convert(const BasicString<uint32_t>& s);
};
template <>
struct string_ops<uint16_t> {
  static StringCore<uint16_t>* convert(const BasicString<char>& s);
  static StringCore<uint16_t>* convert(const BasicString<uint32_t>& s);
};
template <>
struct string_ops<uint32_t> {
  static StringCore<uint32_t>* convert(const BasicString<char>& s);
  static StringCore<uint32_t>* convert(const BasicString<uint16_t>& s);
};

template <typename T>
class BasicString : public Object {
  typedef StringCore<T> Core;

 public:
  BasicString() : core_(retain_empty()) {}
  BasicString(const T* units, uint32_t length)
      : core_(length ? make_copy(units, length) : retain_empty()) {}
  // From a terminated C string. For String16 and String32 every byte is taken as a
  // signed 8-bit value and widened (meant for ASCII text).
  BasicString(const char* text);  // NOLINT: implicit by design
  BasicString(const BasicString& o) : Object(), core_(o.core_) { core_->refs.fetch_add(1); }
  BasicString(BasicString&& o) noexcept : Object(), core_(o.core_) { o.core_ = retain_empty(); }
  // Takes over a buffer's block without copying; the buffer must hold a 0 unit at
  // index length. A weak or null buffer gives the empty string.
  explicit BasicString(ArrayBuffer<T>&& buffer);
  // Conversions between the unit widths go through UTF-8.
  template <typename U, typename = typename std::enable_if<!std::is_same<U, T>::value>::type>
  explicit BasicString(const BasicString<U>& other) : core_(string_ops<T>::convert(other)) {}

  ~BasicString() override { release_core(core_); }

  BasicString& operator=(const BasicString& o) {
    if (core_ != o.core_) {
      o.core_->refs.fetch_add(1);
      release_core(core_);
      core_ = o.core_;
    }
    return *this;
  }
  BasicString& operator=(BasicString&& o) noexcept {
    if (this != &o) {
      Core* c = o.core_;
      o.core_ = retain_empty();
      release_core(core_);
      core_ = c;
    }
    return *this;
  }
  // Replaces the text by a terminated C string (8-bit strings).
  BasicString& operator=(const char* text);

  [[nodiscard]] uint32_t length() const { return core_->length; }
  [[nodiscard]] bool is_empty() const { return core_->length == 0; }
  [[nodiscard]] const T* c_str() const { return core_->data; }
  [[nodiscard]] const T* data() const { return core_->data; }
  [[nodiscard]] uint32_t capacity() const { return core_->capacity; }
  [[nodiscard]] int32_t ref_count() const { return core_->refs.load(); }
  [[nodiscard]] bool shares_core_with(const BasicString& o) const { return core_ == o.core_; }
  T operator[](uint32_t i) const {
    NUBRIX_ASSERT(i < core_->length, "string index out of range");
    return core_->data[i];
  }

  // Appends units; the source may be this string's own data.
  BasicString& push(const T* units, uint32_t count);
  BasicString& push(T unit);
  BasicString& push(const BasicString& s) { return push(s.data(), s.length()); }

  BasicString operator+(const BasicString& o) const;

  bool operator==(const BasicString& o) const {
    return core_ == o.core_ ||
           (length() == o.length() && memcmp(data(), o.data(), (size_t)length() * sizeof(T)) == 0);
  }
  bool operator!=(const BasicString& o) const { return !(*this == o); }
  bool equals(const char* ascii) const;

  // Index of the first unit equal to c (or of the text s) at or after `from`; -1 if none.
  [[nodiscard]] int64_t index_of(T c, uint32_t from = 0) const;
  [[nodiscard]] int64_t index_of(const BasicString& s, uint32_t from = 0) const;
  [[nodiscard]] int64_t last_index_of(T c) const;
  [[nodiscard]] bool starts_with(const BasicString& s) const {
    return s.length() <= length() && memcmp(data(), s.data(), (size_t)s.length() * sizeof(T)) == 0;
  }
  [[nodiscard]] bool ends_with(const BasicString& s) const {
    return s.length() <= length() &&
           memcmp(data() + length() - s.length(), s.data(), (size_t)s.length() * sizeof(T)) == 0;
  }
  // Units [start, end), clipped to the string.
  [[nodiscard]] BasicString substring(uint32_t start, uint32_t end) const;
  [[nodiscard]] BasicString substr(uint32_t start, uint32_t count) const {
    uint64_t end = (uint64_t)start + count;
    return substring(start, end > length() ? length() : (uint32_t)end);
  }

  // Lower-cases every unit below 128 in place (copy-on-write first).
  BasicString& to_lower_case();
  // Splits at every occurrence of the separator (an empty separator gives one
  // element holding the whole text).
  [[nodiscard]] Array<BasicString> split(const BasicString& separator) const;
  // Removes the white space "\t\n\v\f\r " at both ends.
  [[nodiscard]] BasicString trim() const;
  // The units as a new buffer (with its 0 terminator beyond the length).
  [[nodiscard]] ArrayBuffer<T> to_buffer() const;

  // Over len bytes: h = 5381; from the last byte to the first, h = h * 33 + (signed) byte.
  static uint32_t hash_code(const void* bytes, uint32_t len) { return hash_bytes(bytes, len); }
  // The hash of this string's bytes (the byte count of a long String32 exceeds 32 bits).
  [[nodiscard]] uint32_t hash_code() const {
    return hash_bytes(data(), (size_t)length() * sizeof(T));
  }
  static uint32_t hash_bytes(const void* bytes, size_t len);

  // printf-like formatting into a new 8-bit string.
  static String format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
  static String vformat(const char* fmt, va_list args);

  String to_string() const override;

 private:
  explicit BasicString(Core* core) : core_(core) {}
  template <typename U>
  friend class BasicString;
  template <typename U>
  friend StringCore<U>* take_core(BasicString<U>& s);

  static Core* retain_empty() {
    Core* c = empty_string_core<T>();
    c->refs.fetch_add(1);
    return c;
  }
  static Core* alloc_core(uint32_t length, uint32_t capacity);
  static Core* make_copy(const T* units, uint32_t length);
  static void release_core(Core* c) {
    if (c->refs.fetch_sub(1) == 1) free_core(c);
  }
  static void free_core(Core* c);
  // Makes the core private with room for `need` units (terminator included).
  void make_private(uint32_t need);

  Core* core_;
};

template <>
String BasicString<char>::to_string() const;
template <>
String BasicString<uint16_t>::to_string() const;
template <>
String BasicString<uint32_t>::to_string() const;

// Strings move in memory safely: nothing points into a BasicString object.
template <typename T>
struct is_relocatable<BasicString<T>> : std::true_type {};

template <typename T>
StringCore<T>* take_core(BasicString<T>& s) {
  StringCore<T>* c = s.core_;
  s.core_ = BasicString<T>::retain_empty();
  return c;
}

// ---- implementation -------------------------------------------------------

template <typename T>
typename BasicString<T>::Core* BasicString<T>::alloc_core(uint32_t length, uint32_t capacity) {
  Core* c = (Core*)DefaultAllocator::alloc(sizeof(Core) + (size_t)capacity * sizeof(T));
  c->length = length;
  c->capacity = capacity;
  c->data = (T*)(c + 1);
  new (&c->refs) std::atomic<int32_t>(1);
  c->inline_data = true;
  return c;
}

template <typename T>
typename BasicString<T>::Core* BasicString<T>::make_copy(const T* units, uint32_t length) {
  Core* c = alloc_core(length, capacity_for(checked_length(length, 1)));
  memcpy(c->data, units, (size_t)length * sizeof(T));
  c->data[length] = 0;
  return c;
}

template <typename T>
void BasicString<T>::free_core(Core* c) {
  if (c == empty_string_core<T>()) return;  // never freed
  if (!c->inline_data) DefaultAllocator::free(c->data);
  DefaultAllocator::free(c);
}

template <typename T>
BasicString<T>::BasicString(const char* text) {
  size_t n = text ? strlen(text) : 0;
  if (n == 0) {
    core_ = retain_empty();
    return;
  }
  uint32_t len = checked_length(n);
  core_ = alloc_core(len, capacity_for(checked_length(len, 1)));
  for (uint32_t i = 0; i < len; i++) core_->data[i] = (T)(int8_t)text[i];
  core_->data[len] = 0;
}

template <>
inline BasicString<char>::BasicString(const char* text) {
  size_t n = text ? strlen(text) : 0;
  core_ = n ? make_copy(text, checked_length(n)) : retain_empty();
}

template <typename T>
BasicString<T>::BasicString(ArrayBuffer<T>&& buffer) {
  if (buffer.weak() || buffer.is_null()) {
    core_ = retain_empty();
    return;
  }
  uint32_t len = buffer.length();
  if (len == 0) {
    buffer.clear();
    core_ = retain_empty();
    return;
  }
  uint32_t cap = buffer.capacity();
  T* block = buffer.collapse();
  if (cap <= len) block = (T*)DefaultAllocator::realloc(block, ((size_t)len + 1) * sizeof(T));
  Core* c = (Core*)DefaultAllocator::alloc(sizeof(Core));
  c->length = len;
  c->capacity = len + 1;
  c->data = block;
  new (&c->refs) std::atomic<int32_t>(1);
  c->inline_data = false;
  block[len] = 0;
  core_ = c;
}

template <typename T>
BasicString<T>& BasicString<T>::operator=(const char* text) {
  BasicString tmp(text);
  *this = std::move(tmp);
  return *this;
}

template <typename T>
void BasicString<T>::make_private(uint32_t need) {
  Core* c = core_;
  if (c->refs.load() >= 2 || c == empty_string_core<T>()) {
    uint32_t cap = capacity_for(need);
    Core* n = alloc_core(c->length, cap);
    memcpy(n->data, c->data, (size_t)c->length * sizeof(T));
    n->data[c->length] = 0;
    core_ = n;
    release_core(c);
    return;
  }
  if (need < 8) need = 8;
  if (c->capacity >= need && !(need < c->capacity * 0.25)) return;
  uint32_t cap = capacity_for(need);
  if (cap == c->capacity) return;
  if (c->inline_data) {
    c = (Core*)DefaultAllocator::realloc(c, sizeof(Core) + (size_t)cap * sizeof(T));
    c->data = (T*)(c + 1);
  } else {
    c->data = (T*)DefaultAllocator::realloc(c->data, (size_t)cap * sizeof(T));
  }
  c->capacity = cap;
  core_ = c;
}

template <typename T>
BasicString<T>& BasicString<T>::push(const T* units, uint32_t count) {
  if (count == 0) return *this;
  uint32_t old = length();
  uint32_t total = checked_length(old, count);
  uint32_t need = checked_length(total, 1);
  // The source may be our own data, which make_private can move or free: keep a
  // reference to the current core until the copy is done.
  Core* keep = core_;
  bool own = units >= keep->data && units < keep->data + keep->capacity;
  size_t offset = own ? (size_t)(units - keep->data) : 0;
  if (own) keep->refs.fetch_add(1);
  make_private(need);
  const T* src = own ? keep->data + offset : units;
  memmove(core_->data + old, src, (size_t)count * sizeof(T));
  if (own) release_core(keep);
  core_->length = total;
  core_->data[total] = 0;
  return *this;
}

template <typename T>
BasicString<T>& BasicString<T>::push(T unit) {
  Core* c = core_;
  uint32_t old = c->length;
  if (c->refs.load() == 1 && old + 1 < c->capacity && c != empty_string_core<T>()) {
    // Fast path: private with room (the block is never more than four times too large
    // here, since it only grows through this path).
    c->data[old] = unit;
    c->data[old + 1] = 0;
    c->length = old + 1;
    return *this;
  }
  uint32_t total = checked_length(old, 1);
  make_private(checked_length(total, 1));
  core_->data[old] = unit;
  core_->data[total] = 0;
  core_->length = total;
  return *this;
}

template <typename T>
BasicString<T> BasicString<T>::operator+(const BasicString& o) const {
  uint32_t total = checked_length(length(), o.length());
  if (total == 0) return BasicString();
  Core* c = alloc_core(total, capacity_for(checked_length(total, 1)));
  memcpy(c->data, data(), (size_t)length() * sizeof(T));
  memcpy(c->data + length(), o.data(), (size_t)o.length() * sizeof(T));
  c->data[total] = 0;
  return BasicString(c);
}

template <typename T>
bool BasicString<T>::equals(const char* ascii) const {
  uint32_t n = length();
  if (!ascii) return n == 0;
  for (uint32_t i = 0; i < n; i++) {
    if (ascii[i] == 0 || (T)(uint8_t)ascii[i] != data()[i]) return false;
  }
  return ascii[n] == 0;
}

template <typename T>
int64_t BasicString<T>::index_of(T c, uint32_t from) const {
  for (uint32_t i = from; i < length(); i++)
    if (data()[i] == c) return i;
  return -1;
}

template <typename T>
int64_t BasicString<T>::index_of(const BasicString& s, uint32_t from) const {
  uint32_t n = s.length();
  if (n > length()) return -1;
  for (uint64_t i = from; i + n <= length(); i++) {
    if (memcmp(data() + i, s.data(), (size_t)n * sizeof(T)) == 0) return (int64_t)i;
  }
  return -1;
}

template <typename T>
int64_t BasicString<T>::last_index_of(T c) const {
  for (uint32_t i = length(); i > 0; i--)
    if (data()[i - 1] == c) return i - 1;
  return -1;
}

template <typename T>
BasicString<T> BasicString<T>::substring(uint32_t start, uint32_t end) const {
  if (end > length()) end = length();
  if (start >= end) return BasicString();
  if (start == 0 && end == length()) return *this;
  return BasicString(data() + start, end - start);
}

template <typename T>
BasicString<T>& BasicString<T>::to_lower_case() {
  if (is_empty()) return *this;
  make_private(length() + 1);
  for (uint32_t i = 0; i < length(); i++) {
    T c = core_->data[i];
    if (c >= 'A' && c <= 'Z') core_->data[i] = c + ('a' - 'A');
  }
  return *this;
}

template <typename T>
Array<BasicString<T>> BasicString<T>::split(const BasicString& sep) const {
  Array<BasicString> out;
  uint32_t n = sep.length();
  if (n == 0 || n > length()) {
    out.push(*this);
    return out;
  }
  uint32_t start = 0;
  for (uint32_t i = 0; i + n <= length();) {
    if (memcmp(data() + i, sep.data(), (size_t)n * sizeof(T)) == 0) {
      out.push(substring(start, i));
      i += n;
      start = i;
    } else {
      i++;
    }
  }
  out.push(substring(start, length()));
  return out;
}

template <typename T>
BasicString<T> BasicString<T>::trim() const {
  auto blank = [](T c) { return c == ' ' || (c >= 9 && c <= 13); };
  uint32_t s = 0, e = length();
  while (s < e && blank(data()[s])) s++;
  while (e > s && blank(data()[e - 1])) e--;
  return substring(s, e);
}

template <typename T>
ArrayBuffer<T> BasicString<T>::to_buffer() const {
  ArrayBuffer<T> b;
  b.concat(ArrayBuffer<T>::from_weak(const_cast<T*>(data()), length()));
  return b;
}

template <typename T>
uint32_t BasicString<T>::hash_bytes(const void* bytes, size_t len) {
  const int8_t* p = (const int8_t*)bytes;
  uint32_t h = 5381;
  for (size_t i = len; i > 0; i--) h = h * 33 + (uint32_t)(int32_t)p[i - 1];
  return h;
}

template <typename T>
String BasicString<T>::format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  String s = vformat(fmt, args);
  va_end(args);
  return s;
}

}  // namespace nubrix

#endif
