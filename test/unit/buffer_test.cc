// Containers, buffers and object arrays: the capacity rule, growth and shrinking,
// slices, appends, writes, pops, weak buffers and 32-bit length limits.
#include "utils/buffer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test/support/fatal_test.h"
#include "utils/error.h"
#include "utils/map.h"
#include "utils/string.h"

using namespace nubrix;

namespace {

Buffer text(const char* s) {
  return Buffer(s, (uint32_t)strlen(s), true);
}
std::string str(const Buffer& b) {
  return std::string(b.data(), b.length());
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

TEST(Capacity, PowerOfTwoRule) {
  struct Case {
    uint64_t request;
    uint32_t capacity;
  } cases[] = {
      {0, 0},
      {1, 8},
      {7, 8},
      {8, 8},
      {9, 16},
      {16, 16},
      {17, 32},
      {1000, 1024},
      {1u << 30, 1u << 30},
      {(1u << 30) + 1, 1u << 31},
      {kMaxLength, 1u << 31},
  };
  for (const Case& c : cases) EXPECT_EQ(capacity_for(c.request), c.capacity) << c.request;
}

TEST(Capacity, RequestsOfTwoToThe31AreRefused) {
  for (uint64_t n :
       {(uint64_t)1 << 31, ((uint64_t)1 << 32) - 1, (uint64_t)1 << 32, ((uint64_t)1 << 32) + 8}) {
    expect_overflow([n] { (void)capacity_for(n); });
  }
  EXPECT_EQ(checked_length(kMaxLength - 1, 1), kMaxLength);
  EXPECT_EQ(checked_length(5, 6), 11u);
  expect_overflow([] { (void)checked_length(kMaxLength, 1); });
  expect_overflow([] { (void)checked_length(0xffffffffu, 0xffffffffu); });
  expect_overflow([] { (void)checked_length((uint64_t)1 << 32); });
}

TEST(BufferTest, ConstructionCapacities) {
  struct Case {
    uint32_t length, capacity, expected;
  } cases[] = {{0, 0, 0},     {1, 0, 8},   {8, 0, 8},  {9, 0, 16},
               {0, 100, 128}, {3, 17, 32}, {40, 2, 64}};
  for (const Case& c : cases) {
    Buffer b(c.length, c.capacity);
    EXPECT_EQ(b.length(), c.length);
    EXPECT_EQ(b.capacity(), c.expected);
    EXPECT_EQ(b.is_null(), c.expected == 0);
    for (uint32_t i = 0; i < c.length; i++) EXPECT_EQ(b[i], 0) << i;
  }
  ArrayBuffer<uint32_t> wide(5);
  EXPECT_EQ(wide.capacity(), 8u);
  for (uint32_t v : wide) EXPECT_EQ(v, 0u);
}

TEST(BufferTest, CopyOwnsItsBlock) {
  char foreign[4] = {'a', 'b', 'c', 'd'};
  Buffer w = Buffer::from_weak(foreign, 4);
  Buffer c(w);
  EXPECT_FALSE(c.weak());
  EXPECT_NE(c.data(), foreign);
  EXPECT_EQ(str(c), "abcd");
  EXPECT_EQ(c.capacity(), 8u);
  c.push('e');  // an owned copy may grow
  EXPECT_EQ(str(c), "abcde");
  EXPECT_EQ(foreign[3], 'd');
}

TEST(BufferTest, TerminatedAndPlainAppend) {
  Buffer eight = text("12345678");
  Buffer t;
  EXPECT_EQ(t.concat(eight), 8u);
  EXPECT_EQ(t.capacity(), 16u);  // room for the zero element
  EXPECT_EQ(t.data()[8], 0);
  EXPECT_EQ(str(t), "12345678");

  Buffer p;
  EXPECT_EQ(p.append(eight), 8u);
  EXPECT_EQ(p.capacity(), 8u);
  EXPECT_EQ(p.append(text("9")), 9u);
  EXPECT_EQ(p.capacity(), 16u);
  EXPECT_EQ(str(p), "123456789");

  Buffer none;
  EXPECT_EQ(none.concat(Buffer()), 0u);
  EXPECT_TRUE(none.is_null());  // appending nothing allocates nothing
  EXPECT_EQ(p.append(Buffer()), 9u);
}

TEST(BufferTest, AppendItself) {
  Buffer b = text("abcdefgh");  // full: growing moves the block being read
  b.append(b);
  EXPECT_EQ(str(b), "abcdefghabcdefgh");
  b.concat(b);
  EXPECT_EQ(b.length(), 32u);
  EXPECT_EQ(b.data()[32], 0);
  EXPECT_EQ(str(b), "abcdefghabcdefghabcdefghabcdefgh");
}

TEST(BufferTest, Slice) {
  struct Case {
    uint32_t start, end;
    const char* expected;
    uint32_t capacity;
  } cases[] = {
      {0, 3, "abc", 8}, {2, 5, "cde", 8}, {7, 100, "hij", 8}, {0, 100, "abcdefghij", 16},
      {5, 5, "", 0},    {6, 2, "", 0},    {10, 12, "", 0},
  };
  Buffer b = text("abcdefghij");
  for (const Case& c : cases) {
    Buffer s = b.slice(c.start, c.end);
    EXPECT_EQ(str(s), c.expected) << c.start << ".." << c.end;
    EXPECT_EQ(s.capacity(), c.capacity) << c.start << ".." << c.end;
  }
  EXPECT_EQ(str(b), "abcdefghij");
}

TEST(BufferTest, WriteAppendsOverwritesAndZeroFillsGap) {
  Buffer b;
  EXPECT_EQ(b.write("ABCDEFGH", -1, 8), 8u);
  EXPECT_EQ(b.capacity(), 8u);
  b.pop(6);  // the block still holds "CDEFGH" beyond the length
  EXPECT_EQ(b.length(), 2u);
  EXPECT_EQ(b.write("z", 5, 1), 1u);
  ASSERT_EQ(b.length(), 6u);
  EXPECT_EQ(std::string(b.data(), 6), std::string("AB\0\0\0z", 6));

  EXPECT_EQ(b.write("xy", 1, 2), 2u);  // inside: the length stays
  EXPECT_EQ(std::string(b.data(), b.length()), std::string("Axy\0\0z", 6));
  EXPECT_EQ(b.write("", -1, 0), 0u);
  EXPECT_EQ(b.length(), 6u);
  EXPECT_EQ(b.write("12", -1, 2), 2u);
  EXPECT_EQ(std::string(b.data(), b.length()), std::string("Axy\0\0z12", 8));

  ArrayBuffer<uint16_t> w;
  uint16_t units[] = {0x101, 0x202};
  w.write(units, 3, 2);
  ASSERT_EQ(w.length(), 5u);
  EXPECT_EQ(w[0], 0);
  EXPECT_EQ(w[2], 0);
  EXPECT_EQ(w[3], 0x101);
  EXPECT_EQ(w[4], 0x202);
}

TEST(BufferTest, WriteFromItsOwnBlock) {
  Buffer b = text("abcdefgh");
  b.write(b.data(), -1, 8);  // growth moves the source
  EXPECT_EQ(str(b), "abcdefghabcdefgh");
  b.write(b.data() + 2, 0, 4);
  EXPECT_EQ(str(b), "cdefefghabcdefgh");
}

TEST(BufferTest, OverflowingRequestsLeaveBufferIntact) {
  Buffer b = text("abc");
  expect_overflow([&] { b.write("x", kMaxLength, 1); });
  expect_overflow([&] { b.write("x", (int64_t)1 << 40, 1); });
  expect_overflow([&] { b.write("xy", kMaxLength - 1, 2); });
  // A terminated append needs one element more than its length.
  Buffer fake = Buffer::from_weak(b.data(), kMaxLength - 3);
  expect_overflow([&] { b.concat(fake); });
  Buffer fake2 = Buffer::from_weak(b.data(), kMaxLength);
  expect_overflow([&] { b.append(fake2); });
  EXPECT_EQ(str(b), "abc");
  EXPECT_EQ(b.capacity(), 8u);
}

TEST(BufferTest, PopRules) {
  Buffer empty;
  EXPECT_EQ(empty.pop(), 0u);
  Buffer b = text("abcdefghij");
  EXPECT_EQ(b.pop(11), 10u);  // more than the length: unchanged
  EXPECT_EQ(b.pop(0), 10u);
  EXPECT_EQ(b.pop(), 9u);
  EXPECT_EQ(b.pop(4), 5u);
  EXPECT_EQ(str(b), "abcde");
  EXPECT_EQ(b.pop(5), 0u);
  EXPECT_EQ(b.capacity(), 16u);  // no shrink flag: the block is kept
  EXPECT_FALSE(b.is_null());
}

TEST(BufferTest, ShrinkFlagAndClear) {
  Buffer b(100);
  EXPECT_EQ(b.capacity(), 128u);
  b.set_shrink(true);
  b.pop(60);  // 40 is not below a quarter of 128
  EXPECT_EQ(b.capacity(), 128u);
  b.pop(35);  // need max(5, 8) = 8 < 32
  EXPECT_EQ(b.capacity(), 8u);
  EXPECT_EQ(b.length(), 5u);
  b.clear();
  EXPECT_EQ(b.length(), 0u);
  EXPECT_EQ(b.capacity(), 0u);
  EXPECT_TRUE(b.is_null());
}

TEST(BufferTest, MoveTakesEverything) {
  Buffer a = text("hello");
  a.set_shrink(true);
  const char* block = a.data();
  Buffer b(std::move(a));
  EXPECT_EQ(b.data(), block);
  EXPECT_TRUE(b.shrink());
  EXPECT_EQ(str(b), "hello");
  EXPECT_EQ(a.length(), 0u);
  EXPECT_EQ(a.capacity(), 0u);
  EXPECT_TRUE(a.is_null());

  Buffer c = text("old");
  c = std::move(b);
  EXPECT_EQ(c.data(), block);
  EXPECT_TRUE(b.is_null());
}

TEST(BufferTest, MovedWeakBufferIsNeverFreed) {
  // Freeing this stack block would be reported by the address sanitizer.
  char foreign[16] = "weak block";
  Buffer w = Buffer::from_weak(foreign, 10);
  {
    Buffer m(std::move(w));
    EXPECT_TRUE(m.weak());
    EXPECT_EQ(m.data(), foreign);
    EXPECT_FALSE(w.weak());
    EXPECT_TRUE(w.is_null());
    Buffer n;
    n = std::move(m);
    EXPECT_TRUE(n.weak());
    EXPECT_EQ(str(n), "weak block");
    Buffer s = n.slice(0, 4);  // reading is fine
    EXPECT_FALSE(s.weak());
    EXPECT_EQ(str(s), "weak");
    n.clear();
    EXPECT_TRUE(n.is_null());
  }
  EXPECT_STREQ(foreign, "weak block");
}

TEST(BufferDeathTest, ResizingWeakBufferIsFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const char* banner = "# Fatal error in utils/buffer, line 96, func realloc";
  static char foreign[8] = "abcdefg";
  EXPECT_FATAL(Buffer::from_weak(foreign, 7).push('x'), banner);
  EXPECT_FATAL(Buffer::from_weak(foreign, 7).pop(), banner);
  EXPECT_FATAL(Buffer::from_weak(foreign, 7).pop(3), banner);
  EXPECT_FATAL(Buffer::from_weak(foreign, 7).concat(text("x")), banner);
  EXPECT_FATAL(Buffer::from_weak(foreign, 7).append(text("x")), banner);
  EXPECT_FATAL(Buffer::from_weak(foreign, 7).write("x", -1, 1), banner);
  EXPECT_FATAL(
      {
        Buffer moved(Buffer::from_weak(foreign, 7));
        moved.push('y');
      },
      banner);
}

// An element that points at itself: moving it in memory without its move
// constructor leaves the pointer stale.
struct SelfAware {
  SelfAware() : self(this) {}
  explicit SelfAware(int v) : self(this), value(v) {}
  SelfAware(SelfAware&& o) noexcept : self(this), value(o.value) { o.value = -1; }
  SelfAware& operator=(SelfAware&& o) noexcept {
    value = o.value;
    o.value = -1;
    return *this;
  }
  ~SelfAware() { self = nullptr; }
  SelfAware* self;
  int value = 0;
};

TEST(ObjectArray, NonRelocatableElementsAreMovedOnGrowthAndShrink) {
  Array<SelfAware> a;
  for (int i = 0; i < 100; i++) {
    a.push(SelfAware(i));
    ASSERT_EQ(a.length(), (uint32_t)i + 1);
  }
  EXPECT_EQ(a.capacity(), 128u);
  for (uint32_t i = 0; i < a.length(); i++) {
    EXPECT_EQ(a[i].self, &a[i]) << i;
    EXPECT_EQ(a[i].value, (int)i);
  }
  a.pop(95);  // object arrays shrink: 8 < 128 / 4
  EXPECT_EQ(a.capacity(), 8u);
  for (uint32_t i = 0; i < a.length(); i++) {
    EXPECT_EQ(a[i].self, &a[i]) << i;
    EXPECT_EQ(a[i].value, (int)i);
  }
  a.remove(1);
  EXPECT_EQ(a.length(), 4u);
  EXPECT_EQ(a[1].value, 2);
}

struct Record {
  int id = 0;
  Map<String, int> names;
};

TEST(ObjectArray, RecordsHoldingMapsSurviveGrowth) {
  Array<Record> records;
  for (int i = 0; i < 100; i++) {
    Record r;
    r.id = i;
    for (int k = 0; k < 10; k++) r.names[String::format("k%d-%d", i, k)] = i * 100 + k;
    records.push(std::move(r));
    EXPECT_EQ(r.names.length(), 0u);  // moved out
  }
  EXPECT_EQ(records.capacity(), 128u);
  for (uint32_t i = 0; i < records.length(); i++) {
    const Record& r = records[i];
    EXPECT_EQ(r.id, (int)i);
    ASSERT_EQ(r.names.length(), 10u);
    for (int k = 0; k < 10; k++) {
      int* v = r.names.get(String::format("k%u-%d", i, k));
      ASSERT_NE(v, nullptr) << i << " " << k;
      EXPECT_EQ(*v, (int)i * 100 + k);
    }
  }
  Array<Record> copy(records);
  records.clear();
  EXPECT_EQ(*copy[57].names.get(String("k57-3")), 5703);
}

TEST(ObjectArray, StringsMovedInBecomeEmpty) {
  Array<String> a;
  std::vector<std::string> expected;
  for (int i = 0; i < 40; i++) {
    String s = String::format("item %d", i);
    a.push(std::move(s));
    EXPECT_TRUE(s.shares_core_with(String()));
    expected.push_back("item " + std::to_string(i));
  }
  String shared("shared");
  a.push(shared);  // pushing a copy shares the core
  EXPECT_TRUE(a.back().shares_core_with(shared));
  a.push(a[0]);  // an element of the array itself, while it grows
  ASSERT_EQ(a.length(), 42u);
  for (int i = 0; i < 40; i++) EXPECT_TRUE(a[i].equals(expected[i].c_str())) << i;
  EXPECT_TRUE(a[41].equals("item 0"));
  Array<String> s = a.slice(39, 41);
  ASSERT_EQ(s.length(), 2u);
  EXPECT_TRUE(s[0].equals("item 39"));
  EXPECT_TRUE(s[1].shares_core_with(shared));
}

}  // namespace
