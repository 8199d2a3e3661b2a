// The string builder: shared pieces, the running length, the join and its limits.
#include <gtest/gtest.h>

#include <string>

#include "utils/error.h"
#include "utils/string-builder.h"

using namespace nubrix;

namespace {

std::u16string u16(const String16& s) {
  return std::u16string((const char16_t*)s.data(), s.length());
}

TEST(Builder, JoinOfNothingIsTheSharedEmptyString) {
  BasicStringBuilder b;
  EXPECT_EQ(b.count(), 0u);
  EXPECT_EQ(b.string_length(), 0u);
  EXPECT_TRUE(b.first().is_null());
  String16 joined = b.join();
  EXPECT_TRUE(joined.shares_core_with(String16()));
}

TEST(Builder, JoinOfOnePieceSharesIt) {
  String16 piece("only piece");
  BasicStringBuilder b;
  b.push(piece);
  EXPECT_EQ(piece.ref_count(), 2);
  String16 joined = b.join();
  EXPECT_TRUE(joined.shares_core_with(piece));
  EXPECT_EQ(piece.ref_count(), 3);
}

TEST(Builder, JoinOfManyPieces) {
  struct Case {
    std::vector<const char*> pieces;
    const char16_t* joined;
  } cases[] = {
      {{"a", "", "b"}, u"ab"},
      {{"", ""}, u""},
      {{"one", " ", "two", " ", "three"}, u"one two three"},
      {{"12345678", "9"}, u"123456789"},
  };
  for (const Case& c : cases) {
    BasicStringBuilder b;
    uint32_t count = 0, length = 0;
    for (const char* p : c.pieces) {
      String16 s(p);
      if (s.is_empty()) continue;  // callers skip empty pieces
      b.push(s);
      count++;
      length += s.length();
    }
    EXPECT_EQ(b.count(), count);
    EXPECT_EQ(b.string_length(), length);
    String16 joined = b.join();
    EXPECT_EQ(u16(joined), c.joined);
    EXPECT_EQ(joined.c_str()[joined.length()], 0);
    EXPECT_EQ(u16(b.join()), c.joined);  // the join leaves the builder as it was
  }
}

TEST(Builder, PiecesShareStorageAndJoinIsPrivate) {
  String16 a("left "), c("right");
  BasicStringBuilder b;
  b.push(a);
  b.push(String16("middle "));
  b.push(c);
  EXPECT_TRUE(b.first()->shares_core_with(a));
  EXPECT_TRUE(b.last()->shares_core_with(c));
  String16 joined = b.join();
  EXPECT_EQ(u16(joined), u"left middle right");
  EXPECT_EQ(joined.ref_count(), 1);
  joined.push(u'!');
  EXPECT_EQ(u16(a), u"left ");
}

TEST(Builder, PushMoveTakesTheCore) {
  String16 before("before text");
  String16 keep = before;
  BasicStringBuilder b;
  b.push_move(before);
  EXPECT_TRUE(before.shares_core_with(String16()));
  EXPECT_TRUE(b.first()->shares_core_with(keep));
  EXPECT_EQ(keep.ref_count(), 2);  // no extra reference on the way
  EXPECT_EQ(b.string_length(), 11u);

  BasicStringBuilder other;
  other.push(String16("x"));
  other.push(String16("yz"));
  b.append_moved(other);
  EXPECT_EQ(other.count(), 0u);
  EXPECT_EQ(other.string_length(), 0u);
  EXPECT_EQ(b.count(), 3u);
  EXPECT_EQ(b.string_length(), 14u);
  EXPECT_EQ(u16(b.join()), u"before textxyz");
}

TEST(Builder, ClearReleasesPieces) {
  String16 piece("piece");
  BasicStringBuilder b;
  for (int i = 0; i < 50; i++) b.push(piece);
  EXPECT_EQ(piece.ref_count(), 51);
  EXPECT_EQ(b.string_length(), 250u);
  b.clear();
  EXPECT_EQ(b.count(), 0u);
  EXPECT_EQ(b.string_length(), 0u);
  EXPECT_TRUE(b.first().is_null());
  EXPECT_TRUE(b.last().is_null());
  EXPECT_EQ(piece.ref_count(), 1);
  b.push(piece);
  EXPECT_EQ(u16(b.join()), u"piece");
  {
    BasicStringBuilder moved(std::move(b));
    EXPECT_EQ(moved.count(), 1u);
    EXPECT_EQ(b.count(), 0u);
    EXPECT_EQ(b.string_length(), 0u);
  }
  EXPECT_EQ(piece.ref_count(), 1);
}

TEST(Builder, TextForm) {
  BasicStringBuilder b;
  b.push(String16("content"));
  EXPECT_TRUE(b.to_string().equals("[BasicStringBuilder]"));
}

// A large shared piece pushed many times reaches the 32-bit limit without copying.
TEST(Builder, LengthLimitIsRefused) {
  const uint32_t big = 1u << 25;  // 32 Mi units, 64 MB
  String16 piece{ArrayBuffer<uint16_t>(big)};
  ASSERT_EQ(piece.length(), big);
  BasicStringBuilder b;
  for (int i = 0; i < 63; i++) b.push(piece);
  EXPECT_EQ(b.string_length(), 63u * big);
  try {
    b.push(piece);  // 64 * 2^25 = 2^31
    ADD_FAILURE() << "no Error thrown";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ERR_LENGTH_OVERFLOW);
  }
  String16 moved = piece;
  EXPECT_THROW(b.push_move(moved), Error);
  EXPECT_FALSE(moved.is_empty());  // a refused piece stays with its owner
  EXPECT_EQ(b.count(), 63u);
  EXPECT_EQ(b.string_length(), 63u * big);

  // Exactly at the limit the pieces fit, but the join needs one unit more for its
  // terminator: it is refused instead of allocating a wrapped size.
  String16 rest{ArrayBuffer<uint16_t>(kMaxLength - 63u * big)};
  b.push(rest);
  EXPECT_EQ(b.string_length(), kMaxLength);
  EXPECT_THROW((void)b.join(), Error);
}

}  // namespace
