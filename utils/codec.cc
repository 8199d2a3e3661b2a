// Interim codec: UTF-8 paths only. The full set of encodings replaces this file.
#include "utils/codec.h"

#include "utils/console.h"

namespace nubrix {

namespace {

template <typename T>
Buffer encode_utf8(const T* s, uint32_t n) {
  uint64_t size = 0;
  for (uint32_t i = 0; i < n; i++) {
    uint32_t c = (uint32_t)s[i];
    if (sizeof(T) == 1) c &= 0xff;
    size += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : c < 0x110000 ? 4 : c < 0x200000 ? 0 : c < 0x4000000 ? 5 : 6;
  }
  Buffer out(0, checked_length(size, 1));
  char* o = out.data();
  for (uint32_t i = 0; i < n; i++) {
    uint32_t c = (uint32_t)s[i];
    if (sizeof(T) == 1) c &= 0xff;
    if (c < 0x80) {
      *o++ = (char)c;
    } else if (c < 0x800) {
      *o++ = (char)(0xC0 | (c >> 6));
      *o++ = (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *o++ = (char)(0xE0 | (c >> 12));
      *o++ = (char)(0x80 | ((c >> 6) & 0x3F));
      *o++ = (char)(0x80 | (c & 0x3F));
    } else if (c < 0x110000) {
      *o++ = (char)(0xF0 | (c >> 18));
      *o++ = (char)(0x80 | ((c >> 12) & 0x3F));
      *o++ = (char)(0x80 | ((c >> 6) & 0x3F));
      *o++ = (char)(0x80 | (c & 0x3F));
    }
  }
  *o = 0;
  uint32_t len = (uint32_t)(o - out.data());
  char* block = out.collapse();
  return Buffer::adopt(block, len, checked_length(size, 1));
}

}  // namespace

Buffer encode(Encoding, const uint16_t* source, uint32_t length) { return encode_utf8(source, length); }
Buffer encode(Encoding, const uint32_t* source, uint32_t length) { return encode_utf8(source, length); }

ArrayBuffer<uint16_t> decode_to_uint16(Encoding, const char* source, uint32_t length) {
  return utf8_to_utf16(source, length);
}
ArrayBuffer<uint32_t> decode_to_uint32(Encoding, const char* source, uint32_t length) {
  ArrayBuffer<uint32_t> out;
  for (uint32_t i = 0; i < length; i++) {
    uint32_t c = (uint8_t)source[i];
    out.append(&c, 1);
  }
  return out;
}

ArrayBuffer<uint16_t> utf8_to_utf16(const char* source, uint32_t length, uint32_t* malformed) {
  ArrayBuffer<uint16_t> out(0, checked_length(length, 1));
  uint16_t* o = out.data();
  const uint8_t* s = (const uint8_t*)source;
  uint32_t i = 0, bad = 0;
  while (i < length) {
    uint32_t b = s[i];
    if (b < 0x80) {
      *o++ = (uint16_t)b;
      i++;
      continue;
    }
    uint32_t need, cp, min;
    if ((b & 0xE0) == 0xC0) need = 1, cp = b & 0x1F, min = 0x80;
    else if ((b & 0xF0) == 0xE0) need = 2, cp = b & 0x0F, min = 0x800;
    else if ((b & 0xF8) == 0xF0) need = 3, cp = b & 0x07, min = 0x10000;
    else {
      *o++ = 0xFFFD, bad++, i++;
      continue;
    }
    uint32_t j = 1;
    for (; j <= need && i + j < length && (s[i + j] & 0xC0) == 0x80; j++) cp = (cp << 6) | (s[i + j] & 0x3F);
    if (j <= need || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
      *o++ = 0xFFFD, bad++;
      i += j;
      continue;
    }
    i += j;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      *o++ = (uint16_t)(0xD800 | (cp >> 10));
      *o++ = (uint16_t)(0xDC00 | (cp & 0x3FF));
    } else {
      *o++ = (uint16_t)cp;
    }
  }
  *o = 0;
  if (malformed) *malformed = bad;
  uint32_t len = (uint32_t)(o - out.data());
  uint32_t cap = out.capacity();
  uint16_t* block = out.collapse();
  return ArrayBuffer<uint16_t>::adopt(block, len, cap);
}

Buffer utf16_to_utf8(const uint16_t* source, uint32_t length) {
  ArrayBuffer<uint32_t> cps;
  for (uint32_t i = 0; i < length; i++) {
    uint32_t c = source[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < length && source[i + 1] >= 0xDC00 && source[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (source[i + 1] - 0xDC00);
      i++;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    cps.append(&c, 1);
  }
  return encode_utf8(cps.data(), cps.length());
}

}  // namespace nubrix
