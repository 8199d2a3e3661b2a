// A strict UTF-8 check written apart from the codec, for tests of what jsxc writes.
#ifndef NUBRIX_TEST_SUPPORT_UTF8_CHECK_H
#define NUBRIX_TEST_SUPPORT_UTF8_CHECK_H

#include <cstddef>
#include <cstdint>

namespace nubrix_test {

// Strict UTF-8 (RFC 3629): shortest forms only, no encoded surrogates, nothing above
// U+10FFFF. Returns the offset of the first bad byte, or -1 when all of it is valid.
inline long first_invalid_utf8(const unsigned char* s, size_t n) {
  size_t i = 0;
  while (i < n) {
    unsigned char c = s[i];
    if (c < 0x80) {
      i++;
      continue;
    }
    size_t len;
    uint32_t cp;
    uint32_t min;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2, cp = c & 0x1F, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3, cp = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4, cp = c & 0x07, min = 0x10000;
    } else {
      return (long)i;
    }
    if (n - i < len) return (long)i;
    for (size_t k = 1; k < len; k++) {
      if ((s[i + k] & 0xC0) != 0x80) return (long)i;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return (long)i;
    i += len;
  }
  return -1;
}

}  // namespace nubrix_test

#endif
