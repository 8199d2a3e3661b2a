// Text codec: the nine named encodings in every unit width, and the lossless
// UTF-8 / UTF-16 pair used for source files.
//
// Every result is a fresh block with room for its length plus one unit, and that unit
// is set to 0, so the data can be handed on as a terminated string (and adopted by a
// BasicString without a copy). Sizes are computed in 64 bits and checked against the
// container limit before anything is allocated: a result that would be too long
// throws the length Error instead of coming back short.
//
// The UTF-8 paths in both directions handle ASCII 16 units at a time with SSE2 where
// the target has it (utils/simd.h; elsewhere the scalar loops do all): a block whose units are all below 0x80 is widened or
// narrowed whole; otherwise the block is stored anyway, the position moves past its
// ASCII prefix and one sequence is handled by the scalar code. The stores may run
// ahead of the valid output, so they are made only while 16 units of room remain.
#include "utils/codec.h"

#include "utils/console.h"
#include "utils/map.h"
#include "utils/simd.h"
#include "utils/util.h"

namespace nubrix {

namespace {

// ---- result blocks ----------------------------------------------------------

// A block with room for `length` units and the terminator. The size check happens
// before the allocation, so an oversized request throws and allocates nothing.
template <typename T>
class Output {
 public:
  explicit Output(uint64_t length)
      : capacity_(checked_length(length, 1)),
        data_((T*)DefaultAllocator::alloc((size_t)capacity_ * sizeof(T))) {}
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output() {
    if (data_) DefaultAllocator::free(data_);
  }

  [[nodiscard]] T* data() const { return data_; }

  // Maps in the pages of a block that is about to be written whole (populate_pages).
  void populate() { populate_pages(data_, (size_t)capacity_ * sizeof(T)); }

  // Terminates the first `length` units and hands the block over. A block that was
  // sized by an upper bound is first cut down to length + 1 units.
  ArrayBuffer<T> finish(uint32_t length) {
    if (length + 1 < capacity_) {
      data_ = (T*)DefaultAllocator::realloc(data_, ((size_t)length + 1) * sizeof(T));
      capacity_ = length + 1;
    }
    data_[length] = 0;
    T* block = data_;
    data_ = nullptr;
    return ArrayBuffer<T>::adopt(block, length, capacity_);
  }

 private:
  uint32_t capacity_;
  T* data_;
};

template <typename T>
ArrayBuffer<T> empty_result() {
  return Output<T>(0).finish(0);
}

template <typename T>
ArrayBuffer<T> unknown_encoding() {
  log("%s", "Unknown encoding.");
  return empty_result<T>();
}

bool is_known(Encoding en) {
  return (uint32_t)en <= UTF32;
}

// Calls f(i) for every index below n, in blocks of 16 that the compiler can keep in
// vector registers.
template <typename F>
inline void each_unit(uint32_t n, F f) {
  uint32_t i = 0;
  for (; i + 16 <= n; i += 16) {
    for (uint32_t k = 0; k < 16; k++) f(i + k);
  }
  for (; i < n; i++) f(i);
}

// A source unit widened to 32 bits: 8-bit units are sign-extended, wider ones are
// taken as unsigned.
template <typename T>
inline uint32_t extended(T unit) {
  if constexpr (sizeof(T) == 1) {
    return (uint32_t)(int32_t)(int8_t)unit;
  } else {
    return (uint32_t)unit;
  }
}

// ---- tables -------------------------------------------------------------------

const char kBase64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kHexDigits[] = "0123456789abcdef";

struct Base64Input {
  int16_t value[256];
  constexpr Base64Input() : value() {
    for (int i = 0; i < 256; i++) value[i] = -1;
    for (int i = 0; i < 26; i++) {
      value['A' + i] = (int16_t)i;
      value['a' + i] = (int16_t)(26 + i);
    }
    for (int i = 0; i < 10; i++) value['0' + i] = (int16_t)(52 + i);
    value[(int)'+'] = value[(int)'-'] = 62;
    value[(int)'/'] = value[(int)'_'] = 63;
  }
};
constexpr Base64Input kBase64Input;

struct HexInput {
  int16_t value[256];
  constexpr HexInput() : value() {
    for (int i = 0; i < 256; i++) value[i] = -1;
    for (int i = 0; i < 10; i++) value['0' + i] = (int16_t)i;
    for (int i = 0; i < 6; i++) value['a' + i] = value['A' + i] = (int16_t)(10 + i);
  }
};
constexpr HexInput kHexInput;

// Only the low byte of a hex table entry is used: a non-hex character counts as 255.
inline uint32_t hex_value(uint8_t c) {
  return (uint8_t)kHexInput.value[c];
}

#if NUBRIX_SSE2
// ---- SSE2 blocks ----------------------------------------------------------------

inline __m128i load16(const void* p) {
  return _mm_loadu_si128((const __m128i*)p);
}

// Stores 16 bytes as 16 units, zero-extended.
inline void store_widened(char* o, __m128i v) {
  _mm_storeu_si128((__m128i*)o, v);
}
inline void store_widened(uint16_t* o, __m128i v) {
  __m128i zero = _mm_setzero_si128();
  _mm_storeu_si128((__m128i*)o, _mm_unpacklo_epi8(v, zero));
  _mm_storeu_si128((__m128i*)(o + 8), _mm_unpackhi_epi8(v, zero));
}
inline void store_widened(uint32_t* o, __m128i v) {
  __m128i zero = _mm_setzero_si128();
  __m128i lo = _mm_unpacklo_epi8(v, zero);
  __m128i hi = _mm_unpackhi_epi8(v, zero);
  _mm_storeu_si128((__m128i*)o, _mm_unpacklo_epi16(lo, zero));
  _mm_storeu_si128((__m128i*)(o + 4), _mm_unpackhi_epi16(lo, zero));
  _mm_storeu_si128((__m128i*)(o + 8), _mm_unpacklo_epi16(hi, zero));
  _mm_storeu_si128((__m128i*)(o + 12), _mm_unpackhi_epi16(hi, zero));
}
#endif

// ---- UTF-8 of units (the named encoding) --------------------------------------

// Bytes for one code point: 32-bit values 0x110000 to 0x1FFFFF give none.
inline uint32_t utf8_width(uint32_t c) {
  if (c < 0x80) return 1;
  if (c < 0x800) return 2;
  if (c < 0x10000) return 3;
  if (c < 0x110000) return 4;
  if (c < 0x200000) return 0;
  if (c < 0x4000000) return 5;
  return 6;
}

inline char* put_utf8(char* o, uint32_t c) {
  uint32_t width = utf8_width(c);
  static const uint8_t kLead[7] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
  switch (width) {
    case 0:
      return o;
    case 1:
      *o = (char)c;
      return o + 1;
    default:
      // Continuation bytes from the last to the first, six bits each.
      for (uint32_t k = width - 1; k > 0; k--) {
        o[k] = (char)(0x80 | (c & 0x3F));
        c >>= 6;
      }
      o[0] = (char)(kLead[width] | c);
      return o + width;
  }
}

uint64_t utf8_size(const uint8_t* s, uint32_t n) {
  uint64_t size = n;
  uint32_t i = 0;
#if NUBRIX_SSE2
  for (; i + 16 <= n; i += 16) {
    uint32_t high = (uint32_t)_mm_movemask_epi8(load16(s + i));
    if (high) size += (uint32_t)__builtin_popcount(high);
  }
#endif
  for (; i < n; i++) size += s[i] >> 7;
  return size;
}

uint64_t utf8_size(const uint16_t* s, uint32_t n) {
  uint64_t size = n;
  uint32_t i = 0;
#if NUBRIX_SSE2
  const __m128i above_7f = _mm_set1_epi16((short)0xFF80);
  const __m128i above_7ff = _mm_set1_epi16((short)0xF800);
  const __m128i zero = _mm_setzero_si128();
  for (; i + 8 <= n; i += 8) {
    __m128i v = load16(s + i);
    // One bit per unit and test: set when the unit is below 0x80 (or 0x800).
    __m128i small = _mm_cmpeq_epi16(_mm_and_si128(v, above_7f), zero);
    __m128i medium = _mm_cmpeq_epi16(_mm_and_si128(v, above_7ff), zero);
    uint32_t fits = (uint32_t)_mm_movemask_epi8(_mm_packs_epi16(small, medium));
    if (fits != 0xFFFF) size += (uint32_t)__builtin_popcount(~fits & 0xFFFF);
  }
#endif
  for (; i < n; i++) size += (s[i] >= 0x80) + (s[i] >= 0x800);
  return size;
}

uint64_t utf8_size(const uint32_t* s, uint32_t n) {
  uint64_t size = 0;
  for (uint32_t i = 0; i < n; i++) size += utf8_width(s[i]);
  return size;
}

char* utf8_fill(const uint8_t* s, uint32_t n, char* o, const char* end) {
  uint32_t i = 0;
  while (i < n) {
#if NUBRIX_SSE2
    if (i + 16 <= n && end - o >= 16) {
      __m128i v = load16(s + i);
      uint32_t high = (uint32_t)_mm_movemask_epi8(v);
      _mm_storeu_si128((__m128i*)o, v);
      if (!high) {
        i += 16;
        o += 16;
        continue;
      }
      uint32_t k = (uint32_t)__builtin_ctz(high);
      i += k;
      o += k;
    }
#else
    (void)end;
#endif
    uint8_t b = s[i++];
    if (b < 0x80) {
      *o++ = (char)b;
    } else {
      o[0] = (char)(0xC0 | (b >> 6));
      o[1] = (char)(0x80 | (b & 0x3F));
      o += 2;
    }
  }
  return o;
}

// 16-bit units to UTF-8. The named encoding takes every unit as one code point, so
// a surrogate becomes a three-byte sequence of its own; the lossless form combines a
// surrogate pair into one four-byte sequence and writes a lone surrogate as U+FFFD.
template <bool kLossless>
char* utf8_fill16(const uint16_t* s, uint32_t n, char* o, const char* end) {
#if NUBRIX_SSE2
  const __m128i above_7f = _mm_set1_epi16((short)0xFF80);
  const __m128i zero = _mm_setzero_si128();
#endif
  uint32_t i = 0;
  while (i < n) {
#if NUBRIX_SSE2
    if (i + 16 <= n && end - o >= 16) {
      __m128i a = load16(s + i);
      __m128i b = load16(s + i + 8);
      __m128i ascii = _mm_packs_epi16(_mm_cmpeq_epi16(_mm_and_si128(a, above_7f), zero),
                                      _mm_cmpeq_epi16(_mm_and_si128(b, above_7f), zero));
      uint32_t mask = (uint32_t)_mm_movemask_epi8(ascii);
      // Units below 0x80 pack to their own byte value.
      _mm_storeu_si128((__m128i*)o, _mm_packus_epi16(a, b));
      if (mask == 0xFFFF) {
        i += 16;
        o += 16;
        continue;
      }
      uint32_t k = (uint32_t)__builtin_ctz(~mask);
      i += k;
      o += k;
    }
#else
    (void)end;
#endif
    uint32_t c = s[i++];
    if (c < 0x80) {
      *o++ = (char)c;
    } else if (c < 0x800) {
      o[0] = (char)(0xC0 | (c >> 6));
      o[1] = (char)(0x80 | (c & 0x3F));
      o += 2;
    } else if (!kLossless || (c & 0xF800) != 0xD800) {
      o[0] = (char)(0xE0 | (c >> 12));
      o[1] = (char)(0x80 | ((c >> 6) & 0x3F));
      o[2] = (char)(0x80 | (c & 0x3F));
      o += 3;
    } else if (c < 0xDC00 && i < n && (s[i] & 0xFC00) == 0xDC00) {
      uint32_t cp = 0x10000 + ((c - 0xD800) << 10) + (s[i++] - 0xDC00);
      o[0] = (char)(0xF0 | (cp >> 18));
      o[1] = (char)(0x80 | ((cp >> 12) & 0x3F));
      o[2] = (char)(0x80 | ((cp >> 6) & 0x3F));
      o[3] = (char)(0x80 | (cp & 0x3F));
      o += 4;
    } else {
      o[0] = (char)0xEF;
      o[1] = (char)0xBF;
      o[2] = (char)0xBD;
      o += 3;
    }
  }
  return o;
}

char* utf8_fill(const uint16_t* s, uint32_t n, char* o, const char* end) {
  return utf8_fill16<false>(s, n, o, end);
}

char* utf8_fill(const uint32_t* s, uint32_t n, char* o, const char*) {
  for (uint32_t i = 0; i < n; i++) o = put_utf8(o, s[i]);
  return o;
}

// Counts the output in a first pass and fills an exactly sized block in a second.
template <typename T>
Buffer utf8_encode(const T* s, uint32_t n) {
  uint64_t size = utf8_size(s, n);
  Output<char> out(size);
  utf8_fill(s, n, out.data(), out.data() + size);
  return out.finish((uint32_t)size);
}

// ---- UTF-8 to units (the named decoding) ----------------------------------------

// Sequence length announced by a lead byte, and the lead's payload bits. Bytes that
// cannot lead (continuation bytes, 0xFE, 0xFF) take one byte and give no payload.
inline uint32_t sequence_length(uint8_t b) {
  if (b < 0xC0) return 1;
  if (b < 0xE0) return 2;
  if (b < 0xF0) return 3;
  if (b < 0xF8) return 4;
  if (b < 0xFC) return 5;
  if (b < 0xFE) return 6;
  return 1;
}

uint32_t sequence_count(const uint8_t* s, uint32_t n) {
  uint32_t count = 0, i = 0;
  while (i < n) {
#if NUBRIX_SSE2
    while (i + 16 <= n) {
      uint32_t high = (uint32_t)_mm_movemask_epi8(load16(s + i));
      if (high) {
        uint32_t k = (uint32_t)__builtin_ctz(high);
        i += k;
        count += k;
        break;
      }
      i += 16;
      count += 16;
    }
#endif
    if (i >= n) break;
    uint32_t len = sequence_length(s[i]);
    i = n - i > len ? i + len : n;
    count++;
  }
  return count;
}

// One sequence's value: the lead's payload followed by six bits of each following
// byte, which is not checked to be a continuation byte. Bytes missing at the end of
// the input count as 0 bits.
inline uint32_t sequence_value(const uint8_t* s, uint32_t n, uint32_t& i) {
  uint8_t b = s[i];
  if (b < 0x80) {
    i++;
    return b;
  }
  uint32_t len = sequence_length(b);
  if (len == 1) {
    i++;
    return 0;
  }
  uint32_t value = b & (0x7F >> len);
  for (uint32_t k = 1; k < len; k++) value = (value << 6) | (i + k < n ? (s[i + k] & 0x3F) : 0);
  i = n - i > len ? i + len : n;
  return value;
}

template <typename T>
ArrayBuffer<T> utf8_decode(const uint8_t* s, uint32_t n) {
  uint32_t count = sequence_count(s, n);
  Output<T> out(count);
  T* o = out.data();
  const T* end = o + count;
  uint32_t i = 0;
  while (i < n) {
#if NUBRIX_SSE2
    if (i + 16 <= n && end - o >= 16) {
      __m128i v = load16(s + i);
      uint32_t high = (uint32_t)_mm_movemask_epi8(v);
      store_widened(o, v);
      if (!high) {
        i += 16;
        o += 16;
        continue;
      }
      uint32_t k = (uint32_t)__builtin_ctz(high);
      i += k;
      o += k;
    }
#else
    (void)end;
#endif
    *o++ = (T)sequence_value(s, n, i);
  }
  return out.finish(count);
}

// ---- Base64 and hex ---------------------------------------------------------------

Buffer base64_encode(const uint8_t* s, uint64_t n) {
  uint64_t size = (n + 2) / 3 * 4;
  Output<char> out(size);
  char* o = out.data();
  uint64_t i = 0;
  for (; i + 3 <= n; i += 3) {
    uint32_t v = (uint32_t)s[i] << 16 | (uint32_t)s[i + 1] << 8 | s[i + 2];
    o[0] = kBase64Digits[v >> 18];
    o[1] = kBase64Digits[(v >> 12) & 0x3F];
    o[2] = kBase64Digits[(v >> 6) & 0x3F];
    o[3] = kBase64Digits[v & 0x3F];
    o += 4;
  }
  if (n - i == 1) {
    uint32_t v = (uint32_t)s[i] << 16;
    o[0] = kBase64Digits[v >> 18];
    o[1] = kBase64Digits[(v >> 12) & 0x3F];
    o[2] = o[3] = '=';
  } else if (n - i == 2) {
    uint32_t v = (uint32_t)s[i] << 16 | (uint32_t)s[i + 1] << 8;
    o[0] = kBase64Digits[v >> 18];
    o[1] = kBase64Digits[(v >> 12) & 0x3F];
    o[2] = kBase64Digits[(v >> 6) & 0x3F];
    o[3] = '=';
  }
  return out.finish((uint32_t)size);
}

Buffer hex_encode(const uint8_t* s, uint64_t n) {
  uint64_t size = n * 2;
  Output<char> out(size);
  char* o = out.data();
  for (uint64_t i = 0; i < n; i++) {
    o[2 * i] = kHexDigits[s[i] >> 4];
    o[2 * i + 1] = kHexDigits[s[i] & 0xF];
  }
  return out.finish((uint32_t)size);
}

// Decodes groups of four alphabet characters. Characters outside the alphabet
// (spaces, line breaks, any foreign byte) are skipped; the first '=' ends the text,
// so padding in the middle of the input is never read past.
template <typename T>
ArrayBuffer<T> base64_decode(const uint8_t* s, uint32_t n) {
  uint32_t rest = n % 4;
  uint32_t expected = n / 4 * 3 + (rest == 2 ? 1 : rest == 3 ? 2 : rest == 1 && n >= 4 ? 1 : 0);
  Output<T> out(expected);
  T* o = out.data();
  uint32_t i = 0, written = 0;
  const int kStop = -1;
  auto next = [&]() -> int {
    while (i < n) {
      uint8_t c = s[i++];
      if (c == '=') return kStop;
      int v = kBase64Input.value[c];
      if (v >= 0) return v;
    }
    return kStop;
  };
  while (written < expected) {
    int c1 = next();
    if (c1 == kStop) break;
    int c2 = next();
    if (c2 == kStop) break;
    o[written++] = (T)((c1 << 2) | (c2 >> 4));
    if (written == expected) break;
    int c3 = next();
    if (c3 == kStop) break;
    o[written++] = (T)(((c2 << 4) & 0xFF) | (c3 >> 2));
    if (written == expected) break;
    int c4 = next();
    if (c4 == kStop) break;
    o[written++] = (T)(((c3 << 6) & 0xFF) | c4);
  }
  return out.finish(written);
}

// ---- encode and decode -------------------------------------------------------------

template <typename T>
Buffer encode_units(Encoding en, const T* s, uint32_t n) {
  if (!is_known(en)) return unknown_encoding<char>();
  if (n == 0) return empty_result<char>();
  switch (en) {
    case BINARY: {
      Output<char> out(n);
      char* o = out.data();
      if constexpr (sizeof(T) == 1) {
        memcpy(o, s, n);
      } else {
        each_unit(n, [&](uint32_t i) { o[i] = (char)(uint8_t)s[i]; });
      }
      return out.finish(n);
    }
    case ASCII: {
      Output<char> out(n);
      char* o = out.data();
      each_unit(n, [&](uint32_t i) { o[i] = (char)(s[i] & 0x7F); });
      return out.finish(n);
    }
    case BASE64:
      return base64_encode((const uint8_t*)s, (uint64_t)n * sizeof(T));
    case HEX:
      return hex_encode((const uint8_t*)s, (uint64_t)n * sizeof(T));
    case UTF8:
      return utf8_encode(s, n);
    case UCS2:
    case UTF16: {
      uint64_t size = (uint64_t)n * 2;
      Output<char> out(size);
      char* o = out.data();
      each_unit(n, [&](uint32_t i) {
        uint32_t v = extended(s[i]);
        o[2 * i] = (char)v;
        o[2 * i + 1] = (char)(v >> 8);
      });
      return out.finish((uint32_t)size);
    }
    case UCS4:
    case UTF32: {
      uint64_t size = (uint64_t)n * 4;
      Output<char> out(size);
      char* o = out.data();
      each_unit(n, [&](uint32_t i) {
        uint32_t v = extended(s[i]);
        o[4 * i] = (char)v;
        o[4 * i + 1] = (char)(v >> 8);
        o[4 * i + 2] = (char)(v >> 16);
        o[4 * i + 3] = (char)(v >> 24);
      });
      return out.finish((uint32_t)size);
    }
    default:
      return unknown_encoding<char>();
  }
}

// Decodes bytes into units of type T (char for 8-bit results); values wider than T
// keep their low bits.
template <typename T>
ArrayBuffer<T> decode_bytes(Encoding en, const uint8_t* s, uint32_t n) {
  if (!is_known(en)) return unknown_encoding<T>();
  if (n == 0) return empty_result<T>();
  switch (en) {
    case BINARY: {
      Output<T> out(n);
      T* o = out.data();
      if constexpr (sizeof(T) == 1) {
        memcpy(o, s, n);
      } else {
        each_unit(n, [&](uint32_t i) { o[i] = (T)(int8_t)s[i]; });
      }
      return out.finish(n);
    }
    case ASCII: {
      Output<T> out(n);
      T* o = out.data();
      each_unit(n, [&](uint32_t i) { o[i] = (T)(s[i] & 0x7F); });
      return out.finish(n);
    }
    case BASE64:
      return base64_decode<T>(s, n);
    case HEX: {
      if (n % 2) return empty_result<T>();
      uint32_t m = n / 2;
      Output<T> out(m);
      T* o = out.data();
      for (uint32_t i = 0; i < m; i++) {
        o[i] = (T)(hex_value(s[2 * i]) * 16 + hex_value(s[2 * i + 1]));
      }
      return out.finish(m);
    }
    case UTF8:
      return utf8_decode<T>(s, n);
    case UCS2:
    case UTF16: {
      // A trailing odd byte is not a whole unit and is ignored.
      uint32_t m = n / 2;
      Output<T> out(m);
      T* o = out.data();
      each_unit(m, [&](uint32_t i) { o[i] = (T)(s[2 * i] | (uint32_t)s[2 * i + 1] << 8); });
      return out.finish(m);
    }
    case UCS4:
    case UTF32: {
      // Trailing bytes short of a whole unit are ignored.
      uint32_t m = n / 4;
      Output<T> out(m);
      T* o = out.data();
      each_unit(m, [&](uint32_t i) {
        const uint8_t* p = s + 4 * i;
        o[i] = (T)(p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24);
      });
      return out.finish(m);
    }
    default:
      return unknown_encoding<T>();
  }
}

// ---- name tables ---------------------------------------------------------------

struct EncodingNames {
  Map<String, Encoding> by_name;
  Map<uint32_t, String> by_value;
  EncodingNames() {
    static const struct {
      const char* name;
      Encoding encoding;
    } kNames[] = {
        {"binary", BINARY},   {"ascii", ASCII},  {"base64", BASE64}, {"hex", HEX},
        {"utf8", UTF8},       {"utf-8", UTF8},   {"ucs2", UCS2},     {"ucs4", UCS4},
        {"utf16", UTF16},     {"utf-16", UTF16}, {"utf32", UTF32},   {"utf-32", UTF32},
        {"unknown", UNKNOWN},
    };
    for (const auto& entry : kNames) by_name.set(String(entry.name), entry.encoding);
    static const char* const kCanonical[] = {"binary", "ascii", "base64", "hex",   "utf8",
                                             "ucs2",   "ucs4",  "utf16",  "utf32", "unknown"};
    for (uint32_t i = 0; i < 10; i++) by_value.set(i, String(kCanonical[i]));
  }
};

// Built on first use (thread-safe static initialisation), read-only afterwards and
// destroyed at process exit.
const EncodingNames& encoding_names() {
  static const EncodingNames names;
  return names;
}

}  // namespace

Encoding parse_encoding(const String& name) {
  String lower(name);
  lower.to_lower_case();
  const Encoding* en = encoding_names().by_name.get(lower);
  return en ? *en : UNKNOWN;
}

String encoding_name(Encoding encoding) {
  const String* name = encoding_names().by_value.get((uint32_t)encoding);
  return name ? *name : String("unknown");
}

Buffer encode(Encoding en, const char* source, uint32_t length) {
  return encode_units(en, (const uint8_t*)source, length);
}
Buffer encode(Encoding en, const String& source) {
  return encode_units(en, (const uint8_t*)source.data(), source.length());
}
Buffer encode(Encoding en, const Buffer& source) {
  return encode_units(en, (const uint8_t*)source.data(), source.length());
}
Buffer encode(Encoding en, const uint16_t* source, uint32_t length) {
  return encode_units(en, source, length);
}
Buffer encode(Encoding en, const String16& source) {
  return encode_units(en, source.data(), source.length());
}
Buffer encode(Encoding en, const ArrayBuffer<uint16_t>& source) {
  return encode_units<uint16_t>(en, source.data(), source.length());
}
Buffer encode(Encoding en, const uint32_t* source, uint32_t length) {
  return encode_units(en, source, length);
}
Buffer encode(Encoding en, const String32& source) {
  return encode_units(en, source.data(), source.length());
}
Buffer encode(Encoding en, const ArrayBuffer<uint32_t>& source) {
  return encode_units<uint32_t>(en, source.data(), source.length());
}

Buffer decode_to_byte(Encoding en, const char* source, uint32_t length) {
  return decode_bytes<char>(en, (const uint8_t*)source, length);
}
Buffer decode_to_byte(Encoding en, const String& source) {
  return decode_bytes<char>(en, (const uint8_t*)source.data(), source.length());
}
Buffer decode_to_byte(Encoding en, const Buffer& source) {
  return decode_bytes<char>(en, (const uint8_t*)source.data(), source.length());
}
ArrayBuffer<uint16_t> decode_to_uint16(Encoding en, const char* source, uint32_t length) {
  return decode_bytes<uint16_t>(en, (const uint8_t*)source, length);
}
ArrayBuffer<uint16_t> decode_to_uint16(Encoding en, const String& source) {
  return decode_bytes<uint16_t>(en, (const uint8_t*)source.data(), source.length());
}
ArrayBuffer<uint16_t> decode_to_uint16(Encoding en, const Buffer& source) {
  return decode_bytes<uint16_t>(en, (const uint8_t*)source.data(), source.length());
}
ArrayBuffer<uint32_t> decode_to_uint32(Encoding en, const char* source, uint32_t length) {
  return decode_bytes<uint32_t>(en, (const uint8_t*)source, length);
}
ArrayBuffer<uint32_t> decode_to_uint32(Encoding en, const String& source) {
  return decode_bytes<uint32_t>(en, (const uint8_t*)source.data(), source.length());
}
ArrayBuffer<uint32_t> decode_to_uint32(Encoding en, const Buffer& source) {
  return decode_bytes<uint32_t>(en, (const uint8_t*)source.data(), source.length());
}

// ---- the lossless pair --------------------------------------------------------------

// Decodes UTF-8 into UTF-16 units, or only counts them when kStore is false.
// Returns the number of units; `bad` receives the number of replacements. `room` is
// the number of units the output can take.
template <bool kStore>
uint64_t decode_lossless(const uint8_t* s, uint32_t n, uint16_t* o, uint64_t room, uint32_t* bad) {
  uint64_t units = 0;
  uint32_t replaced = 0, i = 0;
  auto emit = [&](uint32_t unit) {
    if constexpr (kStore) o[units] = (uint16_t)unit;
    units++;
  };
  while (i < n) {
#if NUBRIX_SSE2
    if (i + 16 <= n && (!kStore || room - units >= 16)) {
      __m128i v = load16(s + i);
      uint32_t high = (uint32_t)_mm_movemask_epi8(v);
      if constexpr (kStore) store_widened(o + units, v);
      if (!high) {
        i += 16;
        units += 16;
        continue;
      }
      uint32_t k = (uint32_t)__builtin_ctz(high);
      i += k;
      units += k;
    }
#else
    (void)room;
#endif
    uint32_t b = s[i];
    if (b < 0x80) {
      emit(b);
      i++;
      continue;
    }
    // Well-formed sequences: C2..DF 80..BF; E0 A0..BF 80..BF; E1..EC and EE..EF
    // 80..BF 80..BF; ED 80..9F 80..BF; F0 90..BF 80..BF 80..BF; F1..F3 80..BF x3;
    // F4 80..8F 80..BF 80..BF. A byte that breaks a sequence ends it: the bytes taken
    // so far (the maximal invalid subpart) give one U+FFFD and scanning resumes at the
    // breaking byte.
    uint32_t need, low = 0x80, high_bound = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2;
      if (b == 0xE0) low = 0xA0;
      if (b == 0xED) high_bound = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3;
      if (b == 0xF0) low = 0x90;
      if (b == 0xF4) high_bound = 0x8F;
    } else {
      emit(0xFFFD);
      replaced++;
      i++;
      continue;
    }
    uint32_t cp = b & (0x3F >> need);
    uint32_t taken = 1;
    while (taken <= need && i + taken < n) {
      uint32_t c = s[i + taken];
      if (c < low || c > high_bound) break;
      cp = (cp << 6) | (c & 0x3F);
      taken++;
      low = 0x80;
      high_bound = 0xBF;
    }
    i += taken;
    if (taken <= need) {
      emit(0xFFFD);
      replaced++;
    } else if (cp >= 0x10000) {
      cp -= 0x10000;
      emit(0xD800 | (cp >> 10));
      emit(0xDC00 | (cp & 0x3FF));
    } else {
      emit(cp);
    }
  }
  if (bad) *bad = replaced;
  return units;
}

// Each byte gives at most one unit, so a block of `length` units suffices and is cut
// to size at the end. Only an input too long for that bound is counted first.
ArrayBuffer<uint16_t> utf8_to_utf16(const char* source, uint32_t length, uint32_t* malformed) {
  if (length == 0) {
    if (malformed) *malformed = 0;
    return empty_result<uint16_t>();
  }
  const uint8_t* s = (const uint8_t*)source;
  uint64_t size =
      length < kMaxLength ? length : decode_lossless<false>(s, length, nullptr, 0, nullptr);
  Output<uint16_t> out(size);
  // Mostly ASCII sources fill the block to the end.
  out.populate();
  uint64_t units = decode_lossless<true>(s, length, out.data(), size, malformed);
  return out.finish((uint32_t)units);
}

// Every byte that is not a continuation byte (80..BF) starts a sequence for the
// decoder, which never takes one as a continuation: a piece cut in front of such a
// byte decodes exactly as the whole text. Only a sequence still missing bytes at the
// end is held back.
uint32_t Utf8ChunkDecoder::push(const char* bytes, uint32_t length, bool last) {
  const uint8_t* s = (const uint8_t*)bytes;
  uint32_t take = length;
  if (!last) {
    for (uint32_t back = 1; back <= 3 && back <= length; back++) {
      uint32_t b = s[length - back];
      if ((b & 0xC0) == 0x80) continue;
      uint32_t need = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
      if (need > back) take = length - back;
      break;
    }
  }
  if (take == 0) return 0;
  // Each byte gives at most one unit.
  if (capacity_ - units_ < take) {
    uint64_t room = capacity_ * 2;
    if (room < units_ + take) room = units_ + take;
    if (room < 4096) room = 4096;
    room = checked_length(room, 1);
    data_ = (uint16_t*)DefaultAllocator::realloc(data_, (size_t)room * sizeof(uint16_t));
    capacity_ = room;
  }
  uint32_t bad = 0;
  units_ += decode_lossless<true>(s, take, data_ + units_, capacity_ - units_, &bad);
  malformed_ += bad;
  return take;
}

Utf8ChunkDecoder::Utf8ChunkDecoder(uint64_t size_hint) {
  if (size_hint == 0) return;
  // One more unit for the terminator; mostly ASCII text fills the block to the end.
  capacity_ = checked_length(size_hint, 1);
  data_ = (uint16_t*)DefaultAllocator::alloc((size_t)capacity_ * sizeof(uint16_t));
  populate_pages(data_, (size_t)capacity_ * sizeof(uint16_t));
}

Utf8ChunkDecoder::~Utf8ChunkDecoder() {
  if (data_) DefaultAllocator::free(data_);
}

ArrayBuffer<uint16_t> Utf8ChunkDecoder::finish(uint32_t* malformed) {
  if (malformed) *malformed = malformed_;
  if (units_ == 0) return empty_result<uint16_t>();
  uint32_t length = checked_length(units_);
  if (capacity_ < (uint64_t)length + 1 || capacity_ > (uint64_t)length + 1) {
    data_ = (uint16_t*)DefaultAllocator::realloc(data_, ((size_t)length + 1) * sizeof(uint16_t));
    capacity_ = length + 1;
  }
  data_[length] = 0;
  uint16_t* block = data_;
  data_ = nullptr;
  units_ = capacity_ = 0;
  malformed_ = 0;
  return ArrayBuffer<uint16_t>::adopt(block, length, length + 1);
}

namespace {

// The lossless UTF-8 size of one piece: the named form's count, less two bytes for
// every surrogate pair (six bytes there, four here).
uint64_t lossless_utf8_size(const uint16_t* source, uint32_t length) {
  uint64_t size = utf8_size(source, length);
  for (uint32_t i = 0; i + 1 < length; i++) {
    if ((source[i] & 0xFC00) == 0xD800 && (source[i + 1] & 0xFC00) == 0xDC00) {
      size -= 2;
      i++;
    }
  }
  return size;
}

}  // namespace

// Each unit gives at most three bytes (a pair gives four for two units), so 3 ×
// `length` bytes suffice and the block is cut to size at the end. When that bound is
// beyond the limit the exact size is counted first.
Buffer utf16_to_utf8(const uint16_t* const* pieces, const uint32_t* lengths, uint32_t count) {
  uint64_t total = 0;
  for (uint32_t i = 0; i < count; i++) total += lengths[i];
  if (total == 0) return empty_result<char>();
  uint64_t size = total * 3;
  if (size >= kMaxLength) {
    size = 0;
    for (uint32_t i = 0; i < count; i++) size += lossless_utf8_size(pieces[i], lengths[i]);
  }
  Output<char> out(size);
  char* o = out.data();
  const char* end = out.data() + size;
  uint32_t taken = count;  // the piece whose first unit went out with an earlier piece
  for (uint32_t i = 0; i < count; i++) {
    const uint16_t* p = pieces[i] + (taken == i ? 1 : 0);
    uint32_t n = lengths[i] - (taken == i ? 1 : 0);
    // A surrogate pair split between two pieces (empty ones between) is one character.
    uint32_t next = count;
    if (n && (p[n - 1] & 0xFC00) == 0xD800) {
      next = i + 1;
      while (next < count && lengths[next] == 0) next++;
    }
    if (next < count && (pieces[next][0] & 0xFC00) == 0xDC00) {
      o = utf8_fill16<true>(p, n - 1, o, end);
      const uint16_t pair[2] = {p[n - 1], pieces[next][0]};
      o = utf8_fill16<true>(pair, 2, o, end);
      taken = next;
    } else {
      o = utf8_fill16<true>(p, n, o, end);
    }
  }
  return out.finish((uint32_t)(o - out.data()));
}

Buffer utf16_to_utf8(const uint16_t* source, uint32_t length) {
  return utf16_to_utf8(&source, &length, 1);
}

uint64_t Utf8PieceEncoder::fill(char* out, uint64_t room) {
  char* o = out;
  const char* end = out + room;
  // Every unit gives at most three bytes; a pair gives four for two units.
  while (end - o >= 4) {
    while (piece_ < count_ && offset_ == lengths_[piece_]) {
      piece_++;
      offset_ = 0;
    }
    if (piece_ == count_) break;
    const uint16_t* p = pieces_[piece_] + offset_;
    uint32_t left = lengths_[piece_] - offset_;
    uint64_t fit = (uint64_t)(end - o) / 3;
    uint32_t n = left < fit ? left : (uint32_t)fit;
    // A high surrogate at the end of a slice may pair with the unit after it, also
    // across pieces: it is encoded alone below, with a look at that unit.
    if (n > 1 && (p[n - 1] & 0xFC00) == 0xD800) n--;
    if (n == 1 && (p[0] & 0xFC00) == 0xD800) {
      const uint16_t* low = nullptr;
      uint32_t next = piece_, next_offset = offset_ + 2;
      if (left > 1) {
        low = p + 1;
      } else {
        next = piece_ + 1;
        while (next < count_ && lengths_[next] == 0) next++;
        if (next < count_) low = pieces_[next];
        next_offset = 1;
      }
      if (low && (*low & 0xFC00) == 0xDC00) {
        const uint16_t pair[2] = {p[0], *low};
        o = utf8_fill16<true>(pair, 2, o, end);
        piece_ = next;
        offset_ = next_offset;
        continue;
      }
    }
    o = utf8_fill16<true>(p, n, o, end);
    offset_ += n;
  }
  return (uint64_t)(o - out);
}

}  // namespace nubrix
