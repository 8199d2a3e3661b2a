// Codec tests: names, every encoding in every width and through every overload,
// malformed input, size limits, and the lossless UTF-8 / UTF-16 pair checked against
// an independent reference decoder and validator.
#include "utils/codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "utils/console.h"
#include "utils/error.h"

namespace nubrix {
namespace {

using Units = std::vector<uint32_t>;

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back((char)b);
  return s;
}

std::string hex_dump(const std::string& s) {
  std::string out;
  char tmp[4];
  for (unsigned char c : s) {
    snprintf(tmp, sizeof(tmp), "%02X ", c);
    out += tmp;
  }
  return out;
}

// Every result must hold a 0 unit after its length, inside its block.
template <typename T>
void expect_terminated(const ArrayBuffer<T>& b) {
  ASSERT_NE(b.data(), nullptr);
  ASSERT_GE(b.capacity(), b.length() + 1u);
  EXPECT_EQ(b.data()[b.length()], (T)0);
}

std::string to_bytes(const Buffer& b) {
  expect_terminated(b);
  return std::string(b.data(), b.length());
}

template <typename T>
Units to_units(const ArrayBuffer<T>& b) {
  expect_terminated(b);
  Units u;
  for (uint32_t i = 0; i < b.length(); i++) {
    u.push_back(sizeof(T) == 1 ? (uint32_t)(uint8_t)b[i] : (uint32_t)b[i]);
  }
  return u;
}

// Encodes `units` of the given width through each of its three overloads and checks
// that they agree; returns the common result.
std::string encode_all(Encoding en, int width, const Units& units) {
  std::vector<std::string> results;
  if (width == 8) {
    std::string s;
    for (uint32_t u : units) s.push_back((char)u);
    String str(s.data(), (uint32_t)s.size());
    Buffer buf(s.data(), (uint32_t)s.size(), true);
    results.push_back(to_bytes(encode(en, s.data(), (uint32_t)s.size())));
    results.push_back(to_bytes(encode(en, str)));
    results.push_back(to_bytes(encode(en, buf)));
  } else if (width == 16) {
    std::vector<uint16_t> v(units.begin(), units.end());
    String16 str(v.data(), (uint32_t)v.size());
    ArrayBuffer<uint16_t> buf(v.data(), (uint32_t)v.size(), true);
    results.push_back(to_bytes(encode(en, v.data(), (uint32_t)v.size())));
    results.push_back(to_bytes(encode(en, str)));
    results.push_back(to_bytes(encode(en, buf)));
  } else {
    std::vector<uint32_t> v(units.begin(), units.end());
    String32 str(v.data(), (uint32_t)v.size());
    ArrayBuffer<uint32_t> buf(v.data(), (uint32_t)v.size(), true);
    results.push_back(to_bytes(encode(en, v.data(), (uint32_t)v.size())));
    results.push_back(to_bytes(encode(en, str)));
    results.push_back(to_bytes(encode(en, buf)));
  }
  EXPECT_EQ(results[0], results[1]);
  EXPECT_EQ(results[0], results[2]);
  return results[0];
}

// Decodes `input` into the given width through each of the three overloads.
Units decode_all(Encoding en, int width, const std::string& input) {
  String str(input.data(), (uint32_t)input.size());
  Buffer buf(input.data(), (uint32_t)input.size(), true);
  const char* p = input.data();
  uint32_t n = (uint32_t)input.size();
  std::vector<Units> results;
  if (width == 8) {
    results = {to_units(decode_to_byte(en, p, n)), to_units(decode_to_byte(en, str)),
               to_units(decode_to_byte(en, buf))};
  } else if (width == 16) {
    results = {to_units(decode_to_uint16(en, p, n)), to_units(decode_to_uint16(en, str)),
               to_units(decode_to_uint16(en, buf))};
  } else {
    results = {to_units(decode_to_uint32(en, p, n)), to_units(decode_to_uint32(en, str)),
               to_units(decode_to_uint32(en, buf))};
  }
  EXPECT_EQ(results[0], results[1]);
  EXPECT_EQ(results[0], results[2]);
  return results[0];
}

Units units_of(const std::string& s) {
  Units u;
  for (unsigned char c : s) u.push_back(c);
  return u;
}

const Encoding kAll[] = {BINARY, ASCII, BASE64, HEX, UTF8, UCS2, UCS4, UTF16, UTF32};

// ---- names -------------------------------------------------------------------

TEST(Codec, ParseEncoding) {
  struct Case {
    const char* name;
    Encoding expected;
  } cases[] = {
      {"binary", BINARY},  {"ascii", ASCII}, {"base64", BASE64}, {"hex", HEX},
      {"utf8", UTF8},      {"utf-8", UTF8},  {"UTF-8", UTF8},    {"Utf8", UTF8},
      {"ucs2", UCS2},      {"UCS2", UCS2},   {"ucs4", UCS4},     {"utf16", UTF16},
      {"UTF-16", UTF16},   {"utf32", UTF32}, {"utf-32", UTF32},  {"unknown", UNKNOWN},
      {"latin1", UNKNOWN}, {"", UNKNOWN},    {"utf 8", UNKNOWN}, {"hex ", UNKNOWN},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_encoding(String(c.name)), c.expected) << c.name;
}

TEST(Codec, EncodingName) {
  struct Case {
    int value;
    const char* name;
  } cases[] = {
      {BINARY, "binary"}, {ASCII, "ascii"},     {BASE64, "base64"}, {HEX, "hex"},
      {UTF8, "utf8"},     {UCS2, "ucs2"},       {UCS4, "ucs4"},     {UTF16, "utf16"},
      {UTF32, "utf32"},   {UNKNOWN, "unknown"}, {10, "unknown"},    {42, "unknown"},
      {-1, "unknown"},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(encoding_name((Encoding)c.value).c_str(), c.name) << c.value;
  }
  // Every canonical name parses back to its value.
  for (Encoding en : kAll) EXPECT_EQ(parse_encoding(encoding_name(en)), en);
}

// ---- unknown encodings and empty sources ----------------------------------------

class CaptureConsole : public Console {
 public:
  explicit CaptureConsole(std::vector<std::string>* lines) : lines_(lines) {}
  void log(const String& text) override { lines_->push_back(text.c_str()); }

 private:
  std::vector<std::string>* lines_;
};

TEST(Codec, UnknownEncodingLogsAndGivesEmpty) {
  std::vector<std::string> lines;
  set_console(new CaptureConsole(&lines));
  const std::string input = "Zm9v";
  int calls = 0;
  for (int value : {9, 10, 42, -1}) {
    Encoding en = (Encoding)value;
    for (int width : {8, 16, 32}) {
      EXPECT_EQ(encode_all(en, width, units_of(input)), "");
      EXPECT_TRUE(decode_all(en, width, input).empty());
      calls += 6;
    }
  }
  set_console(new Console());
  ASSERT_EQ(lines.size(), (size_t)calls);
  for (const auto& line : lines) EXPECT_EQ(line, "Unknown encoding.");
}

TEST(Codec, EmptySourceGivesEmptyResult) {
  for (Encoding en : kAll) {
    for (int width : {8, 16, 32}) {
      EXPECT_EQ(encode_all(en, width, {}), "") << en;
      EXPECT_TRUE(decode_all(en, width, "").empty()) << en;
    }
    // Null pointers with a zero count, and default (blockless) buffers.
    EXPECT_EQ(encode(en, (const char*)nullptr, 0).length(), 0u);
    EXPECT_EQ(encode(en, (const uint16_t*)nullptr, 0).length(), 0u);
    EXPECT_EQ(encode(en, (const uint32_t*)nullptr, 0).length(), 0u);
    expect_terminated(encode(en, Buffer()));
    expect_terminated(encode(en, ArrayBuffer<uint16_t>()));
    expect_terminated(decode_to_uint16(en, Buffer()));
    expect_terminated(decode_to_uint32(en, nullptr, 0));
  }
}

// ---- encoding units into bytes ---------------------------------------------------

struct EncodeCase {
  Encoding en;
  int width;
  Units input;
  std::string expected;
};

TEST(Codec, Encode) {
  const EncodeCase cases[] = {
      // BINARY: the low 8 bits.
      {BINARY, 8, {0x41, 0xE9}, bytes({0x41, 0xE9})},
      {BINARY, 16, {0x1234, 0x00E9}, bytes({0x34, 0xE9})},
      {BINARY, 32, {0x12345678, 0xFFFFFF80}, bytes({0x78, 0x80})},
      // ASCII: the low 7 bits.
      {ASCII, 8, {0xE9, 0x41, 0x80}, bytes({0x69, 0x41, 0x00})},
      {ASCII, 16, {0x01C1}, bytes({0x41})},
      {ASCII, 32, {0xFFFFFFFF}, bytes({0x7F})},
      // UCS2: 8-bit units sign-extended, 32-bit ones cut to 16 bits; low byte first.
      {UCS2, 8, {0x41, 0xE9}, bytes({0x41, 0x00, 0xE9, 0xFF})},
      {UCS2, 16, {0x1234, 0xD83D}, bytes({0x34, 0x12, 0x3D, 0xD8})},
      {UCS2, 32, {0x12345678}, bytes({0x78, 0x56})},
      // UCS4: 8-bit units sign-extended, 16-bit ones zero-extended.
      {UCS4, 8, {0xE9, 0x7F}, bytes({0xE9, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0})},
      {UCS4, 16, {0xFFFF}, bytes({0xFF, 0xFF, 0x00, 0x00})},
      {UCS4, 32, {0x12345678}, bytes({0x78, 0x56, 0x34, 0x12})},
      // HEX of the in-memory bytes, lower case, high nibble first.
      {HEX, 8, units_of("foobar"), "666f6f626172"},
      {HEX, 8, {0xAB, 0x0F}, "ab0f"},
      {HEX, 16, {0x00E9}, "e900"},
      {HEX, 32, {0x12345678}, "78563412"},
      // BASE64 (RFC 4648 vectors) of the in-memory bytes.
      {BASE64, 8, units_of("f"), "Zg=="},
      {BASE64, 8, units_of("fo"), "Zm8="},
      {BASE64, 8, units_of("foo"), "Zm9v"},
      {BASE64, 8, units_of("foob"), "Zm9vYg=="},
      {BASE64, 8, units_of("fooba"), "Zm9vYmE="},
      {BASE64, 8, units_of("foobar"), "Zm9vYmFy"},
      {BASE64, 8, {0xFB, 0xFF, 0xBF}, "+/+/"},
      {BASE64, 16, {0x6F66}, "Zm8="},
      {BASE64, 32, {0x626F6F66}, "Zm9vYg=="},
      // UTF8 of 8-bit units: code points 0 to 255.
      {UTF8,
       8,
       {0x41, 0x7F, 0x80, 0xE9, 0xFF},
       bytes({0x41, 0x7F, 0xC2, 0x80, 0xC3, 0xA9, 0xC3, 0xBF})},
      // UTF8 of 16-bit units: surrogates encoded one by one.
      {UTF8, 16, {0x00E9}, bytes({0xC3, 0xA9})},
      {UTF8, 16, {0x20AC}, bytes({0xE2, 0x82, 0xAC})},
      {UTF8, 16, {0xD83D, 0xDE00}, bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80})},
      {UTF8,
       16,
       {0x7F, 0x80, 0x7FF, 0x800, 0xFFFF},
       bytes({0x7F, 0xC2, 0x80, 0xDF, 0xBF, 0xE0, 0xA0, 0x80, 0xEF, 0xBF, 0xBF})},
      // UTF8 of 32-bit units: up to six bytes, 0x110000..0x1FFFFF dropped.
      {UTF8, 32, {0x1F600}, bytes({0xF0, 0x9F, 0x98, 0x80})},
      {UTF8, 32, {0x10000, 0x10FFFF}, bytes({0xF0, 0x90, 0x80, 0x80, 0xF4, 0x8F, 0xBF, 0xBF})},
      {UTF8, 32, {0x41, 0x110000, 0x1FFFFF, 0x42}, bytes({0x41, 0x42})},
      {UTF8, 32, {0x200000}, bytes({0xF8, 0x88, 0x80, 0x80, 0x80})},
      {UTF8, 32, {0x3FFFFFF}, bytes({0xFB, 0xBF, 0xBF, 0xBF, 0xBF})},
      {UTF8, 32, {0x4000000}, bytes({0xFC, 0x84, 0x80, 0x80, 0x80, 0x80})},
      {UTF8, 32, {0x7FFFFFFF}, bytes({0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF})},
      {UTF8, 32, {0xFFFFFFFF}, bytes({0xFF, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF})},
      {UTF8, 32, {0x110000}, ""},
  };
  for (const auto& c : cases) {
    std::string got = encode_all(c.en, c.width, c.input);
    EXPECT_EQ(got, c.expected) << encoding_name(c.en).c_str() << " width " << c.width << ": got "
                               << hex_dump(got);
    // The twin encodings behave identically.
    Encoding twin = c.en == UCS2 ? UTF16 : c.en == UCS4 ? UTF32 : c.en;
    if (twin != c.en) {
      EXPECT_EQ(encode_all(twin, c.width, c.input), c.expected);
    }
  }
}

// ---- decoding bytes into units ----------------------------------------------------

struct DecodeCase {
  Encoding en;
  std::string input;
  Units expected8, expected16, expected32;
};

TEST(Codec, Decode) {
  const DecodeCase cases[] = {
      {BINARY, bytes({0xE9, 0x41}), {0xE9, 0x41}, {0xFFE9, 0x41}, {0xFFFFFFE9, 0x41}},
      {ASCII,
       bytes({0xE9, 0x41, 0xFF}),
       {0x69, 0x41, 0x7F},
       {0x69, 0x41, 0x7F},
       {0x69, 0x41, 0x7F}},
      // HEX: odd length is empty; a non-hex character counts as 255.
      {HEX, "e9", {0xE9}, {0xE9}, {0xE9}},
      {HEX, "E9aB", {0xE9, 0xAB}, {0xE9, 0xAB}, {0xE9, 0xAB}},
      {HEX, "abc", {}, {}, {}},
      {HEX, "zz", {0xEF}, {0x10EF}, {0x10EF}},
      {HEX, "g1", {0xF1}, {0xFF1}, {0xFF1}},
      {HEX, "1g", {0x0F}, {0x10F}, {0x10F}},
      // UTF8: one unit per sequence, kept to the unit width, invalid leads give 0.
      {UTF8, bytes({0xF0, 0x9F, 0x98, 0x80}), {0x00}, {0xF600}, {0x1F600}},
      {UTF8, bytes({0x41, 0x80, 0x42}), {0x41, 0, 0x42}, {0x41, 0, 0x42}, {0x41, 0, 0x42}},
      {UTF8, bytes({0xC3, 0xA9}), {0xE9}, {0xE9}, {0xE9}},
      {UTF8, bytes({0xE2, 0x82, 0xAC}), {0xAC}, {0x20AC}, {0x20AC}},
      {UTF8, bytes({0xFE, 0xFF, 0xBF}), {0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
      // Following bytes are not checked: C3 41 is one sequence.
      {UTF8, bytes({0xC3, 0x41, 0x42}), {0xC1, 0x42}, {0xC1, 0x42}, {0xC1, 0x42}},
      // A sequence cut short by the end of the input: missing bits are 0.
      {UTF8, bytes({0x41, 0xE2, 0x82}), {0x41, 0x80}, {0x41, 0x2080}, {0x41, 0x2080}},
      {UTF8, bytes({0xF0}), {0}, {0}, {0}},
      {UTF8, bytes({0xF8, 0x88, 0x80, 0x80, 0x80}), {0}, {0}, {0x200000}},
      {UTF8, bytes({0xFC, 0x84, 0x80, 0x80, 0x80, 0x80}), {0}, {0}, {0x4000000}},
      {UTF8, bytes({0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}), {0xFF}, {0xFFFF}, {0x7FFFFFFF}},
      {UTF8, bytes({0xED, 0xA0, 0xBD}), {0x3D}, {0xD83D}, {0xD83D}},
      // UCS2 / UCS4: whole units only, low byte first.
      {UCS2,
       bytes({0x34, 0x12, 0xE9, 0xFF, 0x78}),
       {0x34, 0xE9},
       {0x1234, 0xFFE9},
       {0x1234, 0xFFE9}},
      {UCS2, bytes({0x41}), {}, {}, {}},
      {UCS4, bytes({0x78, 0x56, 0x34, 0x12, 0xAA, 0xBB}), {0x78}, {0x5678}, {0x12345678}},
      {UCS4, bytes({0x78, 0x56, 0x34}), {}, {}, {}},
  };
  for (const auto& c : cases) {
    std::string what = std::string(encoding_name(c.en).c_str()) + " of " + hex_dump(c.input);
    EXPECT_EQ(decode_all(c.en, 8, c.input), c.expected8) << what;
    EXPECT_EQ(decode_all(c.en, 16, c.input), c.expected16) << what;
    EXPECT_EQ(decode_all(c.en, 32, c.input), c.expected32) << what;
    Encoding twin = c.en == UCS2 ? UTF16 : c.en == UCS4 ? UTF32 : c.en;
    if (twin != c.en) {
      EXPECT_EQ(decode_all(twin, 16, c.input), c.expected16) << what;
      EXPECT_EQ(decode_all(twin, 32, c.input), c.expected32) << what;
    }
  }
}

TEST(Codec, DecodeBase64) {
  struct Case {
    std::string input;
    std::string expected;
  } cases[] = {
      // RFC 4648 vectors.
      {"", ""},
      {"Zg==", "f"},
      {"Zm8=", "fo"},
      {"Zm9v", "foo"},
      {"Zm9vYg==", "foob"},
      {"Zm9vYmE=", "fooba"},
      {"Zm9vYmFy", "foobar"},
      // Without padding.
      {"Zg", "f"},
      {"Zm8", "fo"},
      {"Zm9vYg", "foob"},
      // Foreign characters are skipped.
      {"Zm9v YmFy", "foobar"},
      {"Zm9vYmFy\n", "foobar"},
      {"Zm9v\r\nYmFy\r\n", "foobar"},
      {"*Zg", "f"},
      {"Z g = =", "f"},
      // Decoding stops at the first '='.
      {"Zg==Zm9v", "f"},
      {"Zm8=Zm9v", "fo"},
      {"=Zm9v", ""},
      {"Z=m9v", ""},
      {"====", ""},
      // A lone character cannot make a byte.
      {"Z", ""},
      {"Zm9vY", "foo"},
      // Standard and URL-safe alphabets decode alike.
      {"+/+/", bytes({0xFB, 0xFF, 0xBF})},
      {"-_-_", bytes({0xFB, 0xFF, 0xBF})},
      {"////", bytes({0xFF, 0xFF, 0xFF})},
  };
  for (const auto& c : cases) {
    Units expected = units_of(c.expected);
    EXPECT_EQ(decode_all(BASE64, 8, c.input), expected) << "'" << c.input << "'";
    EXPECT_EQ(decode_all(BASE64, 16, c.input), expected) << "'" << c.input << "'";
    EXPECT_EQ(decode_all(BASE64, 32, c.input), expected) << "'" << c.input << "'";
  }
}

// ---- round trips over the block paths ----------------------------------------------

// A reference UTF-8 encoder of single code points, written for the test.
std::string reference_utf8(uint32_t c) {
  std::string s;
  if (c < 0x80) {
    s += (char)c;
  } else if (c < 0x800) {
    s += (char)(0xC0 | (c >> 6));
    s += (char)(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += (char)(0xE0 | (c >> 12));
    s += (char)(0x80 | ((c >> 6) & 0x3F));
    s += (char)(0x80 | (c & 0x3F));
  } else if (c < 0x110000) {
    s += (char)(0xF0 | (c >> 18));
    s += (char)(0x80 | ((c >> 12) & 0x3F));
    s += (char)(0x80 | ((c >> 6) & 0x3F));
    s += (char)(0x80 | (c & 0x3F));
  } else if (c >= 0x200000) {
    int n = c < 0x4000000 ? 5 : 6;
    std::string tail;
    for (int k = 1; k < n; k++) {
      tail.insert(tail.begin(), (char)(0x80 | (c & 0x3F)));
      c >>= 6;
    }
    s += (char)((n == 5 ? 0xF8 : 0xFC) | c);
    s += tail;
  }
  return s;
}

// Mostly ASCII with runs and isolated wider units, so that the 16-unit blocks meet
// non-ASCII units at every offset and near the end of the input.
Units random_units(std::mt19937& rng, uint32_t length, uint32_t max_unit) {
  Units u;
  for (uint32_t i = 0; i < length; i++) {
    uint32_t r = rng() % 16;
    if (r < 12) {
      u.push_back(0x20 + rng() % 0x5F);
    } else if (r < 13) {
      u.push_back(0x80 + rng() % 0x780);
    } else {
      u.push_back(rng() % (max_unit + 1));
    }
    u.back() &= max_unit;
  }
  return u;
}

TEST(Codec, NamedUtf8MatchesReference) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; round++) {
    uint32_t length = rng() % 80;
    for (int width : {8, 16, 32}) {
      uint32_t max = width == 8 ? 0xFF : width == 16 ? 0xFFFF : 0x7FFFFFFF;
      Units u = random_units(rng, length, max);
      std::string expected;
      for (uint32_t c : u) expected += reference_utf8(c);
      ASSERT_EQ(encode_all(UTF8, width, u), expected) << "width " << width;
      // Back again: every unit survives except the dropped 32-bit range.
      Units back;
      for (uint32_t c : u) {
        if (c < 0x110000 || c >= 0x200000) back.push_back(c);
      }
      Units truncated = back;
      for (auto& c : truncated) c &= width == 8 ? 0xFF : width == 16 ? 0xFFFF : 0xFFFFFFFF;
      ASSERT_EQ(decode_all(UTF8, width, expected), truncated) << "width " << width;
    }
  }
}

TEST(Codec, FixedRatioRoundTrips) {
  std::mt19937 rng(11);
  for (int round = 0; round < 100; round++) {
    uint32_t length = rng() % 70;
    Units u8, u16, u32;
    for (uint32_t i = 0; i < length; i++) {
      u8.push_back(rng() & 0xFF);
      u16.push_back(rng() & 0xFFFF);
      u32.push_back(rng());
    }
    std::string raw8, raw16, raw32;
    for (uint32_t c : u8) raw8 += (char)c;
    for (uint32_t c : u16) raw16 += bytes({(int)(c & 0xFF), (int)(c >> 8)});
    for (uint32_t c : u32) {
      raw32 +=
          bytes({(int)(c & 0xFF), (int)((c >> 8) & 0xFF), (int)((c >> 16) & 0xFF), (int)(c >> 24)});
    }
    ASSERT_EQ(encode_all(UCS2, 16, u16), raw16);
    ASSERT_EQ(decode_all(UCS2, 16, raw16), u16);
    ASSERT_EQ(encode_all(UTF32, 32, u32), raw32);
    ASSERT_EQ(decode_all(UTF32, 32, raw32), u32);
    ASSERT_EQ(decode_all(BINARY, 8, encode_all(BINARY, 8, u8)), u8);
    for (Encoding en : {HEX, BASE64}) {
      ASSERT_EQ(decode_all(en, 8, encode_all(en, 8, u8)), u8);
      ASSERT_EQ(decode_all(en, 8, encode_all(en, 16, u16)), units_of(raw16));
      ASSERT_EQ(decode_all(en, 8, encode_all(en, 32, u32)), units_of(raw32));
    }
    // BINARY widening sign-extends every byte.
    Units widened;
    for (uint32_t c : u8) widened.push_back((uint32_t)(int32_t)(int8_t)c);
    ASSERT_EQ(decode_all(BINARY, 32, raw8), widened);
  }
}

TEST(Codec, StringConversionsUseUtf8) {
  String text("a\xC3\xA9\xF0\x9F\x98\x80");
  String16 wide(text);
  ASSERT_EQ(wide.length(), 3u);
  EXPECT_EQ(wide[1], 0xE9);
  EXPECT_EQ(wide[2], 0xF600);
  String32 full(text);
  ASSERT_EQ(full.length(), 3u);
  EXPECT_EQ(full[2], 0x1F600u);
  EXPECT_STREQ(String(full).c_str(), text.c_str());
}

// ---- size limits -----------------------------------------------------------------

// Results that would exceed the container limit are refused before the source is
// read, so a short source with an oversized count is enough to check the guard.
TEST(Codec, OversizedResultsThrow) {
  const uint32_t small32[4] = {1, 2, 3, 4};
  const char small8[4] = {1, 2, 3, 4};
  struct Case {
    const char* what;
    std::function<void()> call;
  } cases[] = {
      {"hex of 2^30 32-bit units", [&] { encode(HEX, small32, 0x40000000u); }},
      {"base64 of 2^30 32-bit units", [&] { encode(BASE64, small32, 0x40000000u); }},
      {"ucs4 of 2^29 bytes", [&] { encode(UCS4, small8, 0x20000000u); }},
      {"ucs2 of 2^30 32-bit units", [&] { encode(UCS2, small32, 0x40000000u); }},
      {"binary of 2^32-1 bytes", [&] { decode_to_byte(BINARY, small8, 0xFFFFFFFFu); }},
      {"binary of 2^31-1 bytes", [&] { decode_to_uint32(BINARY, small8, 0x7FFFFFFFu); }},
  };
  for (const auto& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.what << ": no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ERR_LENGTH_OVERFLOW) << c.what;
    }
  }
}

// ---- the lossless pair -------------------------------------------------------------

// An independent UTF-8 validator (Unicode Table 3-7).
bool valid_utf8(const std::string& s) {
  size_t i = 0, n = s.size();
  auto at = [&](size_t k) { return (unsigned)(unsigned char)s[k]; };
  while (i < n) {
    unsigned b = at(i);
    size_t len;
    unsigned lo = 0x80, hi = 0xBF;
    if (b < 0x80) {
      i++;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (i + len > n) return false;
    if (at(i + 1) < lo || at(i + 1) > hi) return false;
    for (size_t k = 2; k < len; k++) {
      if (at(i + k) < 0x80 || at(i + k) > 0xBF) return false;
    }
    i += len;
  }
  return true;
}

// A reference decoder in a different form: at each position, the longest prefix of
// the input that is also a prefix of some well-formed sequence is taken; a whole
// sequence is a character, anything shorter one U+FFFD.
std::vector<uint16_t> reference_utf16(const std::string& s, uint32_t* bad) {
  std::vector<uint16_t> out;
  *bad = 0;
  size_t i = 0;
  auto prefix_ok = [](const unsigned char* p, size_t len) {
    // Is p[0..len) a prefix of a well-formed sequence? Encode every candidate code
    // point's first bytes and compare: done by range checks on the decoded bits.
    unsigned b = p[0];
    size_t full = b < 0x80                   ? 1
                  : (b >= 0xC2 && b <= 0xDF) ? 2
                  : (b >= 0xE0 && b <= 0xEF) ? 3
                  : (b >= 0xF0 && b <= 0xF4) ? 4
                                             : 0;
    if (full == 0 || len > full) return (size_t)0;
    for (size_t k = 1; k < len; k++) {
      if ((p[k] & 0xC0) != 0x80) return (size_t)0;
    }
    if (len >= 2) {
      uint32_t top = ((b & (0x7F >> full)) << 6) | (p[1] & 0x3F);
      // The code point's bits known after two bytes bound it from below and above.
      uint32_t shift = 6 * (uint32_t)(full - 2);
      uint32_t min = top << shift, max = ((top + 1) << shift) - 1;
      uint32_t lowest = full == 2 ? 0x80 : full == 3 ? 0x800 : 0x10000;
      if (max < lowest || min > 0x10FFFF) return (size_t)0;
      if (full == 3 && min >= 0xD800 && max <= 0xDFFF) return (size_t)0;
    }
    return full;
  };
  const unsigned char* p = (const unsigned char*)s.data();
  while (i < s.size()) {
    size_t len = 1;
    size_t full = prefix_ok(p + i, 1);
    while (full && len < full && i + len < s.size() && prefix_ok(p + i, len + 1)) len++;
    if (full && len == full) {
      uint32_t c = full == 1 ? p[i] : p[i] & (0x7F >> full);
      for (size_t k = 1; k < full; k++) c = (c << 6) | (p[i + k] & 0x3F);
      if (c >= 0x10000) {
        out.push_back((uint16_t)(0xD800 + ((c - 0x10000) >> 10)));
        out.push_back((uint16_t)(0xDC00 + ((c - 0x10000) & 0x3FF)));
      } else {
        out.push_back((uint16_t)c);
      }
    } else {
      out.push_back(0xFFFD);
      (*bad)++;
    }
    i += len;
  }
  return out;
}

std::vector<uint16_t> lossless16(const std::string& s, uint32_t* bad = nullptr) {
  ArrayBuffer<uint16_t> b = utf8_to_utf16(s.data(), (uint32_t)s.size(), bad);
  expect_terminated(b);
  return std::vector<uint16_t>(b.data(), b.data() + b.length());
}

std::string lossless8(const std::vector<uint16_t>& u) {
  return to_bytes(utf16_to_utf8(u.data(), (uint32_t)u.size()));
}

TEST(CodecLossless, MalformedUtf8) {
  const uint16_t R = 0xFFFD;
  struct Case {
    const char* what;
    std::string input;
    std::vector<uint16_t> expected;
  } cases[] = {
      {"stray continuation", bytes({0x41, 0x80, 0x42}), {0x41, R, 0x42}},
      {"two stray continuations", bytes({0xBF, 0x80}), {R, R}},
      {"overlong slash", bytes({0xC0, 0xAF}), {R, R}},
      {"overlong line feed", bytes({0xC0, 0x8A}), {R, R}},
      {"overlong C1", bytes({0xC1, 0xBF}), {R, R}},
      {"overlong three bytes", bytes({0xE0, 0x80, 0x80}), {R, R, R}},
      {"overlong four bytes", bytes({0xF0, 0x80, 0x80, 0x80}), {R, R, R, R}},
      {"encoded surrogate", bytes({0xED, 0xA0, 0x80}), {R, R, R}},
      {"encoded surrogate pair", bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}), {R, R, R, R, R, R}},
      {"above U+10FFFF", bytes({0xF4, 0x90, 0x80, 0x80}), {R, R, R, R}},
      {"F5 lead", bytes({0xF5, 0x80, 0x80, 0x80}), {R, R, R, R}},
      {"FE and FF", bytes({0xFE, 0xFF}), {R, R}},
      {"truncated two bytes at end", bytes({0x41, 0xC3}), {0x41, R}},
      {"truncated three bytes at end", bytes({0xE2, 0x82}), {R}},
      {"truncated four bytes at end", bytes({0xF0, 0x9F, 0x98}), {R}},
      {"truncated then ASCII", bytes({0xE2, 0x82, 0x41}), {R, 0x41}},
      {"truncated four then ASCII", bytes({0xF0, 0x9F, 0x41, 0x42}), {R, 0x41, 0x42}},
      {"truncated then lead", bytes({0xE2, 0xC3, 0xA9}), {R, 0xE9}},
      {"two truncated", bytes({0xF0, 0x9F, 0xF0, 0x9F}), {R, R}},
      {"valid around invalid", bytes({0xC3, 0xA9, 0xFF, 0xE2, 0x82, 0xAC}), {0xE9, R, 0x20AC}},
      {"astral", bytes({0xF0, 0x9F, 0x98, 0x80}), {0xD83D, 0xDE00}},
      {"largest", bytes({0xF4, 0x8F, 0xBF, 0xBF}), {0xDBFF, 0xDFFF}},
      {"last before surrogates", bytes({0xED, 0x9F, 0xBF}), {0xD7FF}},
      {"byte order mark", bytes({0xEF, 0xBB, 0xBF}), {0xFEFF}},
  };
  for (const auto& c : cases) {
    uint32_t bad = 99;
    std::vector<uint16_t> got = lossless16(c.input, &bad);
    EXPECT_EQ(got, c.expected) << c.what;
    uint32_t expected_bad = 0;
    for (uint16_t u : c.expected) expected_bad += u == R;
    EXPECT_EQ(bad, expected_bad) << c.what;
    // Inside a long ASCII text, so that the block path meets the same bytes.
    std::string pad(21, 'x');
    std::vector<uint16_t> padded(pad.begin(), pad.end());
    padded.insert(padded.end(), c.expected.begin(), c.expected.end());
    padded.insert(padded.end(), pad.begin(), pad.end());
    EXPECT_EQ(lossless16(pad + c.input + pad), padded) << c.what << " (padded)";
  }
}

// `length` bytes, two in three from the edges of the UTF-8 ranges (leads, continuation
// bounds, bytes no sequence holds), the rest any byte.
std::string edge_bytes(std::mt19937& rng, uint32_t length) {
  const int pieces[] = {0x41, 0x80, 0xBF, 0xC0, 0xC2, 0xDF, 0xE0, 0xA0, 0xED, 0x9F,
                        0xEF, 0xF0, 0x90, 0xF4, 0x8F, 0xF5, 0xFF, 0x0A, 0x7F};
  std::string s;
  for (uint32_t i = 0; i < length; i++) {
    s += rng() % 3 ? (char)pieces[rng() % (sizeof(pieces) / sizeof(pieces[0]))]
                   : (char)(rng() & 0xFF);
  }
  return s;
}

TEST(CodecLossless, MatchesReferenceOnRandomBytes) {
  std::mt19937 rng(3);
  for (int round = 0; round < 2000; round++) {
    std::string s = edge_bytes(rng, rng() % 48);
    uint32_t bad = 0, reference_bad = 0;
    std::vector<uint16_t> got = lossless16(s, &bad);
    ASSERT_EQ(got, reference_utf16(s, &reference_bad)) << hex_dump(s);
    ASSERT_EQ(bad, reference_bad) << hex_dump(s);
    // Whatever came in, what goes out is valid.
    ASSERT_TRUE(valid_utf8(lossless8(got))) << hex_dump(s);
  }
}

// Decoding in pieces equals decoding the whole, wherever the pieces are cut: inside a
// sequence, just after a lead byte, in a run of malformed bytes.
TEST(CodecLossless, PiecesDecodeAsTheJoinedBytes) {
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; round++) {
    uint32_t length = rng() % 64;
    std::string s = edge_bytes(rng, length);
    uint32_t whole_bad = 0;
    std::vector<uint16_t> whole = lossless16(s, &whole_bad);
    // The hint is sometimes too small, so the block also grows on the way.
    Utf8ChunkDecoder decoder(round % 4 == 0 ? 0 : rng() % (length + 8));
    std::string held;
    size_t at = 0;
    while (at < s.size()) {
      size_t n = 1 + rng() % 9;
      if (n > s.size() - at) n = s.size() - at;
      held += s.substr(at, n);
      at += n;
      uint32_t taken = decoder.push(held.data(), (uint32_t)held.size(), false);
      ASSERT_LE(held.size() - taken, 3u) << hex_dump(s);
      held.erase(0, taken);
    }
    EXPECT_EQ(decoder.push(held.data(), (uint32_t)held.size(), true), held.size());
    uint32_t bad = 99;
    ArrayBuffer<uint16_t> got = decoder.finish(&bad);
    if (!whole.empty()) expect_terminated(got);
    ASSERT_EQ(std::vector<uint16_t>(got.data(), got.data() + got.length()), whole) << hex_dump(s);
    ASSERT_EQ(bad, whole_bad) << hex_dump(s);
  }
}

TEST(CodecLossless, RoundTripsValidText) {
  std::mt19937 rng(5);
  for (int round = 0; round < 500; round++) {
    std::string utf8;
    std::vector<uint16_t> utf16;
    uint32_t count = rng() % 100;
    for (uint32_t i = 0; i < count; i++) {
      uint32_t kind = rng() % 10, c;
      if (kind < 6) {
        c = rng() % 0x80;
      } else if (kind < 7) {
        c = 0x80 + rng() % 0x780;
      } else if (kind < 8) {
        do c = 0x800 + rng() % 0xF800;
        while (c >= 0xD800 && c <= 0xDFFF);
      } else {
        c = 0x10000 + rng() % 0x100000;
      }
      utf8 += reference_utf8(c);
      if (c >= 0x10000) {
        utf16.push_back((uint16_t)(0xD800 + ((c - 0x10000) >> 10)));
        utf16.push_back((uint16_t)(0xDC00 + ((c - 0x10000) & 0x3FF)));
      } else {
        utf16.push_back((uint16_t)c);
      }
    }
    uint32_t bad = 99;
    ASSERT_EQ(lossless16(utf8, &bad), utf16);
    ASSERT_EQ(bad, 0u);
    ASSERT_EQ(lossless8(utf16), utf8);
  }
}

TEST(CodecLossless, LoneSurrogates) {
  const std::string R = bytes({0xEF, 0xBF, 0xBD});
  const std::string smile = bytes({0xF0, 0x9F, 0x98, 0x80});
  struct Case {
    const char* what;
    std::vector<uint16_t> input;
    std::string expected;
  } cases[] = {
      {"pair", {0xD83D, 0xDE00}, smile},
      {"high alone", {0xD800}, R},
      {"low alone", {0xDC00}, R},
      {"high at end", {0x41, 0xD83D}, "A" + R},
      {"high then ASCII", {0xD83D, 0x41}, R + "A"},
      {"two highs then low", {0xD83D, 0xD83D, 0xDE00}, R + smile},
      {"low then high", {0xDE00, 0xD83D}, R + R},
      {"edges",
       {0xD7FF, 0xE000, 0xFFFF},
       bytes({0xED, 0x9F, 0xBF, 0xEE, 0x80, 0x80, 0xEF, 0xBF, 0xBF})},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(lossless8(c.input), c.expected) << c.what;
    std::vector<uint16_t> padded(19, 'y');
    padded.insert(padded.end(), c.input.begin(), c.input.end());
    padded.insert(padded.end(), 17, 'y');
    EXPECT_EQ(lossless8(padded), std::string(19, 'y') + c.expected + std::string(17, 'y'))
        << c.what << " (padded)";
  }
  // Random units, surrogates included: always valid output, and decoding it gives the
  // input with each lone surrogate replaced.
  std::mt19937 rng(9);
  for (int round = 0; round < 1000; round++) {
    std::vector<uint16_t> u;
    uint32_t length = rng() % 60;
    for (uint32_t i = 0; i < length; i++) {
      uint32_t r = rng() % 8;
      u.push_back((uint16_t)(r < 4 ? rng() % 0x80 : r < 6 ? 0xD800 + rng() % 0x800 : rng()));
    }
    std::string out = lossless8(u);
    ASSERT_TRUE(valid_utf8(out));
    std::vector<uint16_t> expected;
    for (size_t i = 0; i < u.size(); i++) {
      if (u[i] >= 0xD800 && u[i] < 0xDC00 && i + 1 < u.size() && u[i + 1] >= 0xDC00 &&
          u[i + 1] < 0xE000) {
        expected.push_back(u[i]);
        expected.push_back(u[++i]);
      } else {
        expected.push_back(u[i] >= 0xD800 && u[i] < 0xE000 ? 0xFFFD : u[i]);
      }
    }
    ASSERT_EQ(lossless16(out), expected);
  }
}

// The pieces form encodes the joined text, wherever the cuts fall (also inside a
// surrogate pair, and with empty pieces).
TEST(CodecLossless, PiecesEncodeAsTheJoinedText) {
  std::mt19937 rng(5);
  const uint16_t units[] = {0x41, 0xE9, 0x20AC, 0xD83D, 0xDE00, 0xD800, 0xDC00};
  for (int round = 0; round < 2000; round++) {
    std::vector<uint16_t> text(rng() % 12);
    for (auto& u : text) u = units[rng() % 7];
    // Up to four cuts, in order, possibly equal (empty pieces).
    std::vector<uint32_t> cuts;
    for (uint32_t k = rng() % 5; k > 0; k--)
      cuts.push_back(text.empty() ? 0 : rng() % (text.size() + 1));
    std::sort(cuts.begin(), cuts.end());
    std::vector<const uint16_t*> starts;
    std::vector<uint32_t> lengths;
    uint32_t from = 0;
    cuts.push_back((uint32_t)text.size());
    for (uint32_t c : cuts) {
      starts.push_back(text.data() + from);
      lengths.push_back(c - from);
      from = c;
    }
    Buffer b = utf16_to_utf8(starts.data(), lengths.data(), (uint32_t)starts.size());
    EXPECT_EQ(to_bytes(b), lossless8(text)) << "round " << round;
    // Block by block, with blocks as small as a four-byte sequence.
    uint64_t room = 4 + rng() % 9;
    Utf8PieceEncoder encoder(starts.data(), lengths.data(), (uint32_t)starts.size());
    std::string streamed;
    std::vector<char> block(room);
    for (uint64_t n; (n = encoder.fill(block.data(), room)) > 0;) {
      ASSERT_LE(n, room);
      streamed.append(block.data(), n);
    }
    EXPECT_EQ(streamed, lossless8(text)) << "round " << round << ", block " << room;
  }
}

// Long pieces go through the 16-unit blocks; the block boundaries of the output fall
// anywhere, also between the two halves of a pair.
TEST(CodecLossless, PiecesEncodeInBlocksOfAnySize) {
  std::mt19937 rng(9);
  const uint16_t units[] = {0x61, 0x62, 0x0A, 0xE9, 0x20AC, 0xD83D, 0xDE00, 0xDC00};
  std::vector<uint16_t> text(5000);
  for (size_t i = 0; i < text.size(); i++) text[i] = rng() % 10 ? 0x61 : units[rng() % 8];
  const uint16_t* starts[] = {text.data(), text.data() + 1777, text.data() + 1777,
                              text.data() + 4000};
  const uint32_t lengths[] = {1777, 0, 4000 - 1777, 1000};
  for (uint64_t room : {4, 5, 16, 17, 100, 4096, 1 << 20}) {
    Utf8PieceEncoder encoder(starts, lengths, 4);
    std::string streamed;
    std::vector<char> block(room);
    for (uint64_t n; (n = encoder.fill(block.data(), room)) > 0;) streamed.append(block.data(), n);
    EXPECT_EQ(streamed, lossless8(text)) << "block " << room;
    EXPECT_EQ(encoder.fill(block.data(), room), 0u);
  }
}

TEST(CodecLossless, EmptyInput) {
  uint32_t bad = 99;
  EXPECT_TRUE(lossless16("", &bad).empty());
  EXPECT_EQ(bad, 0u);
  EXPECT_EQ(utf8_to_utf16(nullptr, 0).length(), 0u);
  EXPECT_EQ(lossless8({}), "");
}

// A long ASCII text goes through the blocks; the result is cut to its length.
TEST(CodecLossless, LongTextResultFitsItsLength) {
  std::string text;
  for (int i = 0; i < 2000; i++) text += "const x = a + b; // line\n";
  ArrayBuffer<uint16_t> wide = utf8_to_utf16(text.data(), (uint32_t)text.size());
  ASSERT_EQ(wide.length(), text.size());
  EXPECT_EQ(wide.capacity(), wide.length() + 1);
  Buffer back = utf16_to_utf8(wide.data(), wide.length());
  EXPECT_EQ(back.capacity(), back.length() + 1);
  EXPECT_EQ(to_bytes(back), text);
}

}  // namespace
}  // namespace nubrix
