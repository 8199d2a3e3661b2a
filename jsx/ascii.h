// The ASCII character classes of the script language: no unit above 127 (and no -1,
// the scanner's end of source) belongs to any class here. Names may also hold
// non-ASCII characters, and there is non-ASCII whitespace: the scanner decides those
// with jsx/unicode-id.h and its own tests.
#ifndef NUBRIX_JSX_ASCII_H
#define NUBRIX_JSX_ASCII_H

#include <cstdint>

namespace nubrix {

// A to Z, a to z: OR 0x20 folds the upper case onto the lower.
inline bool is_letter(int32_t c) {
  return c >= 0 && (uint32_t)((c | 0x20) - 0x61) <= 25;
}
inline bool is_digit(int32_t c) {
  return c >= '0' && c <= '9';
}
inline bool is_hex(int32_t c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
// A letter, '_' or '$'.
inline bool is_name_start(int32_t c) {
  return is_letter(c) || c == '_' || c == '$';
}
// Units that may continue a name: letters, digits, '_' and '$' (for the scanner's
// name loop, which reads the source units directly).
inline constexpr bool kNamePart[128] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0,
    0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 1,
    0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
inline bool is_name_part(int32_t c) {
  return is_name_start(c) || is_digit(c);
}
// Tab, line feed, vertical tab, form feed, carriage return and space.
inline bool is_blank(int32_t c) {
  return c >= 0 && c <= 32 && ((0x100003e00ull >> c) & 1);
}

}  // namespace nubrix

#endif
