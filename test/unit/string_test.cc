// Strings: the shared empty core, copy-on-write, capacities, appends (including a
// string's own text), split, trim, case, hashing, formatting, conversions and limits.
#include "utils/string.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "utils/error.h"

using namespace nubrix;

namespace {

std::u16string u16(const String16& s) {
  return std::u16string((const char16_t*)s.data(), s.length());
}
String16 s16(const char16_t* t) {
  return String16((const uint16_t*)t, (uint32_t)std::char_traits<char16_t>::length(t));
}

template <typename F>
void expect_overflow(F f) {
  try {
    f();
    ADD_FAILURE() << "no Error thrown";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ERR_LENGTH_OVERFLOW);
  }
}

template <typename T>
class EmptyCore : public ::testing::Test {};
typedef ::testing::Types<char, uint16_t, uint32_t> UnitTypes;
TYPED_TEST_SUITE(EmptyCore, UnitTypes);

TYPED_TEST(EmptyCore, EveryEmptyStringSharesOneCore) {
  typedef BasicString<TypeParam> S;
  S base;
  TypeParam unit = 'x';
  std::vector<S> empties;
  empties.push_back(S((const char*)nullptr));
  empties.push_back(S(""));
  empties.push_back(S(&unit, 0));
  empties.push_back(S(ArrayBuffer<TypeParam>()));
  empties.push_back(S("abc").substring(2, 1));
  S moved("abc");
  S target(std::move(moved));
  empties.push_back(moved);
  for (const S& e : empties) {
    EXPECT_TRUE(e.shares_core_with(base));
    EXPECT_EQ(e.length(), 0u);
    EXPECT_EQ(e.c_str()[0], 0);
    EXPECT_EQ(e.capacity(), 8u);
  }
  int32_t refs = base.ref_count();
  {
    S another;
    EXPECT_EQ(base.ref_count(), refs + 1);
  }
  EXPECT_EQ(base.ref_count(), refs);
  // Appending to an empty string never writes into the shared core.
  S grown;
  grown.push(&unit, 1);
  EXPECT_EQ(grown.length(), 1u);
  EXPECT_FALSE(grown.shares_core_with(base));
  EXPECT_EQ(base.length(), 0u);
  EXPECT_EQ(base.c_str()[0], 0);
  S one;
  one.push(unit);
  EXPECT_EQ(one[0], unit);
  EXPECT_EQ(S().length(), 0u);
}

TEST(StringTest, CapacitiesFollowLengthPlusTerminator) {
  struct Case {
    uint32_t length, capacity;
  } cases[] = {{1, 8}, {7, 8}, {8, 16}, {15, 16}, {16, 32}, {100, 128}};
  for (const Case& c : cases) {
    std::string text(c.length, 'q');
    String s(text.c_str());
    EXPECT_EQ(s.capacity(), c.capacity) << c.length;
    EXPECT_EQ(s.c_str()[c.length], 0);
    String16 w(text.c_str());
    EXPECT_EQ(w.capacity(), c.capacity) << c.length;
  }
  // Growth through appends follows the same rule.
  String s;
  for (int i = 0; i < 8; i++) s.push('a');
  EXPECT_EQ(s.capacity(), 16u);
  String concat = String("abc") + String("defgh");
  EXPECT_TRUE(concat.equals("abcdefgh"));
  EXPECT_EQ(concat.capacity(), 16u);
}

TEST(StringTest, CopyOnWriteIsolatesCopies) {
  String a("shared text");
  String b = a;
  EXPECT_TRUE(a.shares_core_with(b));
  EXPECT_EQ(a.ref_count(), 2);
  b.push(" more", 5);
  EXPECT_TRUE(a.equals("shared text"));
  EXPECT_TRUE(b.equals("shared text more"));
  EXPECT_EQ(a.ref_count(), 1);
  EXPECT_EQ(b.ref_count(), 1);

  String c = a;
  c.push("", 0);  // nothing to append: the core stays shared
  EXPECT_TRUE(c.shares_core_with(a));

  String d = a;
  d = "other";
  EXPECT_TRUE(a.equals("shared text"));
  EXPECT_TRUE(d.equals("other"));
  d = "";
  EXPECT_TRUE(d.shares_core_with(String()));

  String e = a;
  e.to_lower_case();
  String f("MiXeD Case 42");
  String g = f;
  g.to_lower_case();
  EXPECT_TRUE(f.equals("MiXeD Case 42"));
  EXPECT_TRUE(g.equals("mixed case 42"));
  String16 h("ABC-xyz");
  String16 i = h;
  i.to_lower_case();
  EXPECT_TRUE(h.equals("ABC-xyz"));
  EXPECT_TRUE(i.equals("abc-xyz"));
}

TEST(StringTest, PushOwnText) {
  struct Case {
    const char* start;
    uint32_t from, count;
    const char* expected;
  } cases[] = {
      {"abcd", 0, 4, "abcdabcd"},
      {"abcdefgh", 0, 8, "abcdefghabcdefgh"},  // 9 -> 17 units: the block moves
      {"abcdefghijklmno", 0, 15, "abcdefghijklmnoabcdefghijklmno"},  // full block
      {"abcdefgh", 3, 2, "abcdefghde"},
  };
  for (const Case& c : cases) {
    String s(c.start);
    s.push(s.c_str() + c.from, c.count);
    EXPECT_TRUE(s.equals(c.expected)) << c.start;
    EXPECT_EQ(s.c_str()[s.length()], 0);

    String shared(c.start);
    String copy = shared;
    shared.push(shared.c_str() + c.from, c.count);
    EXPECT_TRUE(shared.equals(c.expected)) << c.start;
    EXPECT_TRUE(copy.equals(c.start));

    String self(c.start);
    self.push(self);
    std::string twice = std::string(c.start) + c.start;
    EXPECT_TRUE(self.equals(twice.c_str()));
  }
  String16 w = s16(u"\u00e9t\u00e9 ");
  for (int i = 0; i < 4; i++) w.push(w.data(), w.length());
  EXPECT_EQ(w.length(), 64u);
  for (uint32_t i = 0; i < 64; i += 4) EXPECT_EQ(u16(w).substr(i, 4), u"\u00e9t\u00e9 ");
}

TEST(StringTest, Split) {
  struct Case {
    const char* text;
    const char* sep;
    std::vector<std::string> parts;
  } cases[] = {
      {"a/b", "/", {"a", "b"}},
      {"/a/", "/", {"", "a", ""}},
      {"abc", ",", {"abc"}},
      {"a,,b", ",", {"a", "", "b"}},
      {"a::b::", "::", {"a", "b", ""}},
      {"ab", "abc", {"ab"}},
      {"", ",", {""}},
      {"aaa", "aa", {"", "a"}},
      {"abc", "", {"abc"}},
  };
  for (const Case& c : cases) {
    Array<String> parts = String(c.text).split(String(c.sep));
    ASSERT_EQ(parts.length(), c.parts.size()) << c.text << " / " << c.sep;
    for (uint32_t i = 0; i < parts.length(); i++) {
      EXPECT_EQ(std::string(parts[i].c_str(), parts[i].length()), c.parts[i]) << c.text;
      if (parts[i].is_empty()) {
        EXPECT_TRUE(parts[i].shares_core_with(String()));
      }
    }
  }
}

TEST(StringTest, Trim) {
  struct Case {
    const char16_t* text;
    const char16_t* expected;
  } cases[] = {
      {u"  ab \t\n", u"ab"}, {u"\vx y\f", u"x y"}, {u"\r\n", u""},
      {u" \t\n\v\f\r", u""}, {u"", u""},           {u"\u00a0a\u00a0", u"\u00a0a\u00a0"},
  };
  for (const Case& c : cases) EXPECT_EQ(u16(s16(c.text).trim()), c.expected);
  EXPECT_TRUE(s16(u" \t ").trim().shares_core_with(String16()));
  String16 clean = s16(u"no blanks");
  EXPECT_TRUE(clean.trim().shares_core_with(clean));
  EXPECT_TRUE(String("  x  ").trim().equals("x"));
}

TEST(StringTest, HashCode) {
  const uint32_t base = 5381;
  EXPECT_EQ(String::hash_code("", 0), base);
  EXPECT_EQ(String().hash_code(), base);
  struct Case {
    const char* bytes;
    uint32_t length;
    uint32_t expected;
  } cases[] = {
      {"a", 1, base * 33 + 'a'},
      {"\xff", 1, base * 33 - 1},  // bytes count as signed
      {"\x80", 1, base * 33 - 128},
      {"ab", 2, (base * 33 + 'b') * 33 + 'a'},  // from the last byte to the first
  };
  for (const Case& c : cases) {
    EXPECT_EQ(String::hash_code(c.bytes, c.length), c.expected) << c.bytes;
    EXPECT_EQ(String(c.bytes, c.length).hash_code(), c.expected);
  }
  // A 16-bit unit hashes as its two bytes, low byte first.
  EXPECT_EQ(String16("a").hash_code(), (base * 33 + 0) * 33 + 'a');
  // Wrap-around modulo 2^32.
  uint32_t h = base;
  std::string long_text(1000, '~');
  for (int i = 0; i < 1000; i++) h = h * 33 + '~';
  EXPECT_EQ(String(long_text.c_str()).hash_code(), h);
}

TEST(StringTest, Format) {
  String s = String::format("%d-%s-%05.1f", 42, "x", 3.14159);
  EXPECT_TRUE(s.equals("42-x-003.1"));
  EXPECT_EQ(s.capacity(), s.length() + 1);  // the formatted block is adopted
  EXPECT_EQ(s.ref_count(), 1);
  EXPECT_TRUE(String::format("%s", "").shares_core_with(String()));
  String copy = s;
  copy.push('!');
  EXPECT_TRUE(copy.equals("42-x-003.1!"));
  EXPECT_TRUE(s.equals("42-x-003.1"));
  // A conversion that fails (a wide character the C locale cannot encode) makes
  // vasprintf report an error: the result is the empty string.
  String failed = String::format("abc %ls", L"\u00e9");
  EXPECT_TRUE(failed.shares_core_with(String()));
}

TEST(StringTest, ConversionsThroughUtf8) {
  String utf8("h\xc3\xa9llo \xe2\x82\xac");  // "héllo €"
  String16 wide(utf8);
  EXPECT_EQ(u16(wide), u"h\u00e9llo \u20ac");
  EXPECT_EQ(wide.c_str()[wide.length()], 0);
  String back(wide);
  EXPECT_TRUE(back == utf8);
  EXPECT_EQ(back.c_str()[back.length()], 0);
  String32 w32(utf8);
  ASSERT_EQ(w32.length(), 7u);
  EXPECT_EQ(w32[1], 0xe9u);
  EXPECT_EQ(w32[6], 0x20acu);
  EXPECT_TRUE(String(w32) == utf8);
  EXPECT_EQ(u16(String16(w32)), u"h\u00e9llo \u20ac");
  EXPECT_TRUE(wide.to_string() == utf8);
  EXPECT_TRUE(utf8.to_string().shares_core_with(utf8));

  EXPECT_TRUE(String16(String()).shares_core_with(String16()));
  EXPECT_TRUE(String(String16()).shares_core_with(String()));
  EXPECT_TRUE(String32(String16()).shares_core_with(String32()));
}

TEST(StringTest, AdoptsBuffers) {
  Buffer b;
  b.concat(Buffer("adopted", 7, true));
  const char* block = b.data();
  String s(std::move(b));
  EXPECT_TRUE(s.equals("adopted"));
  EXPECT_EQ(s.c_str(), block);  // no copy
  EXPECT_EQ(s.capacity(), 8u);
  EXPECT_TRUE(b.is_null());
  EXPECT_EQ(b.length(), 0u);

  Buffer full("12345678", 8, true);  // no room for the terminator
  String t(std::move(full));
  EXPECT_TRUE(t.equals("12345678"));
  EXPECT_EQ(t.c_str()[8], 0);

  char foreign[] = "foreign";
  EXPECT_TRUE(String(Buffer::from_weak(foreign, 7)).shares_core_with(String()));
  EXPECT_TRUE(String(Buffer()).shares_core_with(String()));

  ArrayBuffer<uint16_t> units = s16(u"abc").to_buffer();
  EXPECT_EQ(units.length(), 3u);
  EXPECT_EQ(units.data()[3], 0);
}

TEST(StringTest, SearchAndCompare) {
  String s("path/to/file.js");
  EXPECT_EQ(s.index_of('/'), 4);
  EXPECT_EQ(s.index_of('/', 5), 7);
  EXPECT_EQ(s.last_index_of('/'), 7);
  EXPECT_EQ(s.index_of('#'), -1);
  EXPECT_EQ(s.index_of(String("file")), 8);
  EXPECT_EQ(s.index_of(String("file"), 9), -1);
  EXPECT_EQ(String("ab").index_of(String("abc")), -1);
  EXPECT_TRUE(s.starts_with(String("path")));
  EXPECT_TRUE(s.ends_with(String(".js")));
  EXPECT_FALSE(String("js").ends_with(String(".js")));
  EXPECT_TRUE(s.substring(5, 7).equals("to"));
  EXPECT_TRUE(s.substr(8, 100).equals("file.js"));
  EXPECT_TRUE(s.substring(0, 100).shares_core_with(s));
  EXPECT_FALSE(String("a") == String("b"));
  EXPECT_TRUE(String("a") != String("ab"));
  EXPECT_FALSE(String("ab").equals("abc"));
  EXPECT_FALSE(String("abc").equals("ab"));
  EXPECT_FALSE(String("x").equals(nullptr));
  EXPECT_TRUE(String().equals(nullptr));
}

TEST(StringTest, LengthLimitsAreChecked) {
  char unit = 'x';
  // The checks come before any unit is read.
  expect_overflow([&] { String s(&unit, kMaxLength); });
  expect_overflow([&] { String16 s((const uint16_t*)&unit, 0xffffffffu); });
  String s("abc");
  expect_overflow([&] { s.push(s.c_str(), kMaxLength - 3); });
  expect_overflow([&] { s.push(&unit, 0xfffffffeu); });
  EXPECT_TRUE(s.equals("abc"));
  EXPECT_EQ(s.capacity(), 8u);
  String copy = s;
  expect_overflow([&] { copy.push(&unit, kMaxLength); });
  EXPECT_TRUE(copy.shares_core_with(s));
}

}  // namespace
