// The hash map: table growth and shrinking, lookups, removal, colliding keys,
// integer hashing and the iteration order.
#include "utils/map.h"

#include <gtest/gtest.h>

#include <vector>

#include "utils/string-builder.h"

using namespace nubrix;

namespace {

template <typename K, typename V>
std::vector<K> keys(const Map<K, V>& m) {
  std::vector<K> out;
  for (auto it = m.begin(); it != m.end(); ++it) out.push_back(it.key());
  return out;
}

TEST(MapTest, TableGrowsWithEntries) {
  struct Case {
    uint32_t entries, buckets;
  } cases[] = {{0, 0}, {1, 8}, {8, 8}, {9, 16}, {16, 16}, {17, 32}, {100, 128}};
  for (const Case& c : cases) {
    Map<uint32_t, int> m;
    for (uint32_t i = 0; i < c.entries; i++) m[i * 7] = (int)i;
    EXPECT_EQ(m.length(), c.entries);
    EXPECT_EQ(m.bucket_count(), c.buckets) << c.entries;
    for (uint32_t i = 0; i < c.entries; i++) ASSERT_EQ(*m.get(i * 7), (int)i);
  }
}

TEST(MapTest, LookupsAndDefaults) {
  Map<String, String> m;
  EXPECT_EQ(m.get(String("a")), nullptr);  // empty: no table is touched
  EXPECT_EQ(m.bucket_count(), 0u);
  EXPECT_FALSE(m.has(String("a")));
  String& v = m[String("a")];
  EXPECT_TRUE(v.shares_core_with(String()));  // default value
  v = "alpha";
  m.set(String("b"), String("beta"));
  EXPECT_EQ(m.length(), 2u);
  EXPECT_TRUE(m.get(String("a"))->equals("alpha"));
  EXPECT_TRUE(m[String("b")].equals("beta"));
  EXPECT_EQ(m.length(), 2u);  // an existing key is not inserted again
  EXPECT_FALSE(m.has(String("c")));

  Map<String, String> copy(m);
  m[String("a")] = "changed";
  EXPECT_TRUE(copy.get(String("a"))->equals("alpha"));
  Map<String, String> moved(std::move(m));
  EXPECT_EQ(m.length(), 0u);
  EXPECT_EQ(m.get(String("a")), nullptr);
  EXPECT_TRUE(moved.get(String("a"))->equals("changed"));
}

TEST(MapTest, CollidingStringKeysStayApart) {
  // Different texts with one hash_code must remain different keys.
  String16 a("rHqEiz"), b("gDQzfw");
  ASSERT_EQ(a.hash_code(), b.hash_code());
  Map<String16, int> wide;
  wide[a] = 1;
  wide[b] = 2;
  EXPECT_EQ(wide.length(), 2u);
  EXPECT_EQ(*wide.get(a), 1);
  EXPECT_EQ(*wide.get(b), 2);
  EXPECT_TRUE(wide.remove(a));
  EXPECT_EQ(wide.get(a), nullptr);
  EXPECT_EQ(*wide.get(b), 2);

  String c("aB"), d("@C");  // 33 * 'B' + 'a' == 33 * 'C' + '@'
  ASSERT_EQ(c.hash_code(), d.hash_code());
  Map<String, int> narrow;
  narrow[c] = 3;
  EXPECT_EQ(narrow.get(d), nullptr);
  narrow[d] = 4;
  EXPECT_EQ(narrow.length(), 2u);
  EXPECT_EQ(*narrow.get(c), 3);
  EXPECT_EQ(*narrow.get(String("aB")), 3);  // equal texts in another core
}

TEST(MapTest, RemovalKeepsChainsLinked) {
  // With 8 buckets, 0, 8, 16, 24 and 32 share bucket 0 (chain 32, 24, 16, 8, 0).
  Map<int32_t, int> m;
  for (int k : {0, 8, 16, 24, 32}) m[k] = k + 1;
  ASSERT_EQ(m.bucket_count(), 8u);
  EXPECT_EQ(keys(m), (std::vector<int32_t>{32, 24, 16, 8, 0}));
  EXPECT_TRUE(m.remove(16));  // middle
  EXPECT_TRUE(m.remove(32));  // first
  EXPECT_TRUE(m.remove(0));   // last
  EXPECT_FALSE(m.remove(0));
  EXPECT_FALSE(m.remove(5));
  EXPECT_EQ(m.length(), 2u);
  EXPECT_EQ(keys(m), (std::vector<int32_t>{24, 8}));
  m[40] = 41;  // in front of the shortened chain
  m[48] = 49;
  EXPECT_EQ(keys(m), (std::vector<int32_t>{48, 40, 24, 8}));
  for (int k : {8, 24, 40, 48}) EXPECT_EQ(*m.get(k), k + 1);
  EXPECT_TRUE(m.remove(8));
  EXPECT_TRUE(m.remove(48));
  EXPECT_EQ(keys(m), (std::vector<int32_t>{40, 24}));
  EXPECT_TRUE(m.remove(40));
  EXPECT_TRUE(m.remove(24));
  EXPECT_EQ(m.length(), 0u);
  EXPECT_TRUE(keys(m).empty());
  EXPECT_EQ(m.get(24), nullptr);
  m[3] = 4;
  EXPECT_EQ(keys(m), (std::vector<int32_t>{3}));
}

TEST(MapTest, TableShrinksOnInsertAfterRemovals) {
  Map<uint32_t, uint32_t> m;
  for (uint32_t i = 0; i < 40; i++) m[i] = i;
  EXPECT_EQ(m.bucket_count(), 64u);
  for (uint32_t i = 0; i < 35; i++) m.remove(i);
  EXPECT_EQ(m.bucket_count(), 64u);  // only inserts resize
  m[100] = 100;
  EXPECT_EQ(m.bucket_count(), 8u);
  for (uint32_t k : {35u, 36u, 37u, 38u, 39u, 100u}) EXPECT_EQ(*m.get(k), k);
}

TEST(MapTest, IterationOrder) {
  // Buckets in index order, each chain from its first item; a new item goes in
  // front of its chain, and a rehash keeps each chain's order.
  Map<uint32_t, int> m;
  for (uint32_t k : {1u, 17u, 2u, 3u, 4u, 5u, 6u, 7u}) m[k] = 0;
  EXPECT_EQ(keys(m), (std::vector<uint32_t>{17, 1, 2, 3, 4, 5, 6, 7}));
  m[0] = 0;  // ninth entry: 16 buckets; 17 and 1 stay together in bucket 1
  EXPECT_EQ(m.bucket_count(), 16u);
  EXPECT_EQ(keys(m), (std::vector<uint32_t>{0, 17, 1, 2, 3, 4, 5, 6, 7}));
  m[9] = 0;
  m[25] = 0;
  EXPECT_EQ(keys(m), (std::vector<uint32_t>{0, 17, 1, 2, 3, 4, 5, 6, 7, 25, 9}));
}

TEST(MapTest, IntegerHashes) {
  EXPECT_EQ(Compare<int8_t>::hash(-1), 0xffffffffu);  // sign-extended
  EXPECT_EQ(Compare<int16_t>::hash(-2), 0xfffffffeu);
  EXPECT_EQ(Compare<uint16_t>::hash(0xffff), 0xffffu);
  EXPECT_EQ(Compare<int32_t>::hash(-3), 0xfffffffdu);
  EXPECT_EQ(Compare<uint32_t>::hash(123456789u), 123456789u);
  // 64-bit keys: high half XOR low half, so equal halves hash to 0.
  EXPECT_EQ(Compare<uint64_t>::hash(0x1234567812345678ull), 0u);
  EXPECT_EQ(Compare<int64_t>::hash(-1), 0u);
  EXPECT_EQ(Compare<uint64_t>::hash(0x0000000100000003ull), 2u);

  Map<uint64_t, int> m;
  m[0] = 1;
  m[0x100000001ull] = 2;
  m[0xffffffffffffffffull] = 3;
  EXPECT_EQ(m.length(), 3u);  // one hash, three keys
  EXPECT_EQ(*m.get(0), 1);
  EXPECT_EQ(*m.get(0x100000001ull), 2);
  EXPECT_EQ(*m.get(0xffffffffffffffffull), 3);

  Map<double, int> d;
  d[0.0] = 1;
  d[-0.0] = 2;
  d[1.5] = 3;
  EXPECT_EQ(d.length(), 2u);
  EXPECT_EQ(*d.get(0.0), 2);
}

TEST(MapTest, BuilderValues) {
  Map<String16, BasicStringBuilder> m;
  for (int i = 0; i < 20; i++) {
    m[String16(i % 2 ? "odd" : "even")].push(String16(String::format("%d,", i)));
  }
  EXPECT_EQ(m.length(), 2u);
  EXPECT_EQ(m.get(String16("odd"))->count(), 10u);
  EXPECT_TRUE(String(m.get(String16("even"))->join()).equals("0,2,4,6,8,10,12,14,16,18,"));
}

TEST(MapTest, ManyEntries) {
  Map<String, uint32_t> m;
  for (uint32_t i = 0; i < 5000; i++) m[String::format("key-%u", i)] = i;
  EXPECT_EQ(m.length(), 5000u);
  EXPECT_EQ(m.bucket_count(), 8192u);
  for (uint32_t i = 0; i < 5000; i += 2) ASSERT_TRUE(m.remove(String::format("key-%u", i)));
  uint32_t seen = 0;
  for (auto it = m.begin(); it != m.end(); ++it) {
    EXPECT_EQ(it.value() % 2, 1u);
    seen++;
  }
  EXPECT_EQ(seen, 2500u);
  for (uint32_t i = 1; i < 5000; i += 2) ASSERT_EQ(*m.get(String::format("key-%u", i)), i);
}

}  // namespace
