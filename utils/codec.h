// Text conversion between the three unit widths and the named byte encodings.
// The named operations never fail and never validate: malformed input is treated in
// documented, lossy ways (a 4-byte UTF-8 sequence decodes to one 16-bit unit holding
// the low 16 bits of the code point; surrogate pairs are never combined).
// utf8_to_utf16 and utf16_to_utf8 are the lossless pair used for source files: they
// keep text outside the Basic Multilingual Plane as surrogate pairs and replace every
// malformed sequence by U+FFFD, so they always produce valid text.
#ifndef NUBRIX_UTILS_CODEC_H
#define NUBRIX_UTILS_CODEC_H

#include <cstdint>

#include "utils/buffer.h"
#include "utils/string.h"

namespace nubrix {

// A fixed underlying type, so that any integer (an unknown encoding such as 42 or -1)
// is a valid value of the type.
enum Encoding : int32_t {
  BINARY = 0,
  ASCII = 1,
  BASE64 = 2,
  HEX = 3,
  UTF8 = 4,
  UCS2 = 5,
  UCS4 = 6,
  UTF16 = 7,
  UTF32 = 8,
  UNKNOWN = 9,
};

Encoding parse_encoding(const String& name);
String encoding_name(Encoding encoding);

Buffer encode(Encoding en, const char* source, uint32_t length);
Buffer encode(Encoding en, const String& source);
Buffer encode(Encoding en, const Buffer& source);
Buffer encode(Encoding en, const uint16_t* source, uint32_t length);
Buffer encode(Encoding en, const String16& source);
Buffer encode(Encoding en, const ArrayBuffer<uint16_t>& source);
Buffer encode(Encoding en, const uint32_t* source, uint32_t length);
Buffer encode(Encoding en, const String32& source);
Buffer encode(Encoding en, const ArrayBuffer<uint32_t>& source);

Buffer decode_to_byte(Encoding en, const char* source, uint32_t length);
Buffer decode_to_byte(Encoding en, const String& source);
Buffer decode_to_byte(Encoding en, const Buffer& source);
ArrayBuffer<uint16_t> decode_to_uint16(Encoding en, const char* source, uint32_t length);
ArrayBuffer<uint16_t> decode_to_uint16(Encoding en, const String& source);
ArrayBuffer<uint16_t> decode_to_uint16(Encoding en, const Buffer& source);
ArrayBuffer<uint32_t> decode_to_uint32(Encoding en, const char* source, uint32_t length);
ArrayBuffer<uint32_t> decode_to_uint32(Encoding en, const String& source);
ArrayBuffer<uint32_t> decode_to_uint32(Encoding en, const Buffer& source);

// Lossless UTF-8 to UTF-16: code points above U+FFFF become surrogate pairs; every
// malformed sequence (a stray continuation byte, an overlong form such as C0 AF, an
// encoded surrogate, a value above U+10FFFF, a truncated sequence) becomes one U+FFFD.
// When `malformed` is given it receives the number of replacements.
ArrayBuffer<uint16_t> utf8_to_utf16(const char* source, uint32_t length,
                                    uint32_t* malformed = nullptr);
// The same decoding for UTF-8 that arrives in pieces (a file read a block at a time),
// so the whole text never has to stand in memory twice. `push` decodes the bytes of a
// piece up to the last whole sequence and returns how many it took; the caller keeps
// the rest (at most 3 bytes) in front of the next piece. The last piece is pushed with
// `last` set and is taken whole. The units of all pieces together equal utf8_to_utf16
// over the joined bytes. `size_hint`: the expected number of bytes (the block grows
// past it when more arrive).
class Utf8ChunkDecoder {
 public:
  explicit Utf8ChunkDecoder(uint64_t size_hint);
  ~Utf8ChunkDecoder();
  Utf8ChunkDecoder(const Utf8ChunkDecoder&) = delete;
  Utf8ChunkDecoder& operator=(const Utf8ChunkDecoder&) = delete;
  uint32_t push(const char* bytes, uint32_t length, bool last);
  // The units decoded, terminated; the decoder is left empty.
  ArrayBuffer<uint16_t> finish(uint32_t* malformed = nullptr);

 private:
  uint16_t* data_ = nullptr;
  uint64_t capacity_ = 0;
  uint64_t units_ = 0;
  uint32_t malformed_ = 0;
};

// Lossless UTF-16 to UTF-8: a surrogate pair becomes one 4-byte sequence; a lone
// surrogate becomes U+FFFD, so the output is always valid UTF-8.
Buffer utf16_to_utf8(const uint16_t* source, uint32_t length);
// The same over consecutive pieces of one text, encoded into one block: the result
// equals the encoding of the joined text (a surrogate pair may be split between pieces).
Buffer utf16_to_utf8(const uint16_t* const* pieces, const uint32_t* lengths, uint32_t count);

// The same encoding a bounded block at a time, so that a large text is written out
// without a block three times its size: each `fill` writes the next bytes into `out`
// (at most `room`, at least 4 unless the text ends) and returns their count, 0 at the
// end. The bytes of all calls together equal utf16_to_utf8 over the same pieces. The
// pieces must stay alive and unchanged while the encoder is used.
class Utf8PieceEncoder {
 public:
  Utf8PieceEncoder(const uint16_t* const* pieces, const uint32_t* lengths, uint32_t count)
      : pieces_(pieces), lengths_(lengths), count_(count) {}
  // `room` must be at least 4.
  uint64_t fill(char* out, uint64_t room);

 private:
  const uint16_t* const* pieces_;
  const uint32_t* lengths_;
  uint32_t count_;
  uint32_t piece_ = 0;   // the piece being encoded
  uint32_t offset_ = 0;  // units of it already encoded
};

}  // namespace nubrix

#endif
