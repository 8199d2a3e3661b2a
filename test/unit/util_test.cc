#include "utils/util.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

using nubrix::SimpleHash;
using nubrix::String;

namespace {

std::string str(const String& s) {
  return std::string(s.data(), s.length());
}

// Runs this test program again in a fresh process, with only `env` as its environment,
// and returns what the one selected test printed between "<<" and ">>".
std::string run_child(const char* test, const std::vector<std::string>& env) {
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    std::string filter = std::string("--gtest_filter=UtilChild.") + test;
    std::vector<std::string> vars = env;
    vars.push_back("NUBRIX_UTIL_CHILD=1");
    std::vector<char*> envp;
    for (std::string& v : vars) envp.push_back(&v[0]);
    envp.push_back(nullptr);
    char* argv[] = {(char*)"util_test", &filter[0], nullptr};
    execve("/proc/self/exe", argv, envp.data());
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, (size_t)n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
  size_t a = out.find("<<"), b = out.find(">>");
  if (a == std::string::npos || b == std::string::npos || b < a) return "no result: " + out;
  return out.substr(a + 2, b - a - 2);
}

bool in_child() {
  return getenv("NUBRIX_UTIL_CHILD") != nullptr;
}

// The hash computed by hand: h = 5381, then h * 33 + signed byte from the last byte.
uint32_t reference_hash(const std::string& bytes) {
  uint32_t h = 5381;
  for (size_t i = bytes.size(); i > 0; i--) h = h * 33u + (uint32_t)(int32_t)(int8_t)bytes[i - 1];
  return h;
}

TEST(SimpleHash, DigestTexts) {
  // Each hash split into 6-bit digits, least significant first, then looked up in
  // "A-Za-z0-9_-" (A = 0, a = 26, 0 = 52, _ = 62, - = 63).
  struct Case {
    std::string input;
    uint32_t hash;
    const char* digest;
  } cases[] = {
      {"", 5381, "FUB"},                   // 5 20 1
      {"a", 177670, "GYr"},                // 5381*33+97: 6 24 43
      {"\xff", 177572, "kWr"},             // 5381*33-1 (signed byte): 36 22 43
      {"ab", 5863240, "IdXW"},             // (5381*33+98)*33+97: 8 29 23 22
      {"hello", 269791705, "ZHLFQ"},       // 25 7 11 5 16
      {"abcdefg", 4055396897u, "hIHuxD"},  // 33 8 7 46 49 3: six digits for 32 bits
      {"jsxc", 2090165949, "9aWl8B"},      // 61 26 22 37 60 1
  };
  for (const Case& c : cases) {
    EXPECT_EQ(reference_hash(c.input), c.hash) << c.input;
    SimpleHash h;
    h.update(c.input.data(), (uint32_t)c.input.size());
    EXPECT_EQ(h.hash_code(), c.hash) << c.input;
    EXPECT_EQ(str(h.digest()), c.digest) << c.input;
    EXPECT_EQ(str(nubrix::hash(c.input.data(), (uint32_t)c.input.size())), c.digest);
    EXPECT_EQ(str(nubrix::hash(String(c.input.c_str()))), c.digest);
  }
}

TEST(SimpleHash, UpdatesContinueTheHash) {
  const std::string text = "The quick brown fox jumps over the lazy dog, twice over.";
  // Bytes go from the last to the first: updating with the tail first and the head
  // second is the same as hashing the whole text.
  for (size_t cut : {(size_t)0, (size_t)1, (size_t)20, text.size()}) {
    SimpleHash h;
    h.update(text.data() + cut, (uint32_t)(text.size() - cut));
    h.update(text.data(), (uint32_t)cut);
    EXPECT_EQ(h.hash_code(), reference_hash(text)) << cut;
    EXPECT_EQ(str(h.digest()), str(nubrix::hash(text.data(), (uint32_t)text.size())));
  }
  EXPECT_EQ(SimpleHash().hash_code(), 5381u);
  EXPECT_EQ(String("abc").hash_code(), reference_hash("abc"));
  // Every digest is one to six characters of the alphabet.
  for (int i = 0; i < 200; i++) {
    std::string s(1 + i % 13, (char)(i * 37));
    std::string d = str(nubrix::hash(s.data(), (uint32_t)s.size()));
    EXPECT_GE(d.size(), 1u);
    EXPECT_LE(d.size(), 6u);
    EXPECT_EQ(
        d.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-"),
        std::string::npos);
  }
}

TEST(Random, StaysInBounds) {
  struct Case {
    uint32_t a, b;
  } cases[] = {{0, 0},           {5, 5},          {0, 1},
               {10, 20},         {20, 10},        {0xFFFFFFF0u, 0xFFFFFFFFu},
               {0, 0xFFFFFFFFu}, {1, 0xFFFFFFFFu}};
  for (const Case& c : cases) {
    uint32_t lo = c.a < c.b ? c.a : c.b, hi = c.a < c.b ? c.b : c.a;
    std::set<uint32_t> seen;
    for (int i = 0; i < 300; i++) {
      uint32_t r = nubrix::random(c.a, c.b);
      EXPECT_GE(r, lo);
      EXPECT_LE(r, hi);
      seen.insert(r);
    }
    // A range of several values is not stuck on one of them.
    if (hi - lo >= 10) {
      EXPECT_GT(seen.size(), 1u) << c.a << " " << c.b;
    }
  }
}

TEST(Random, WeightedPicksByWeight) {
  const int32_t empty[] = {0};
  EXPECT_EQ(nubrix::random_weighted(empty), -1);
  EXPECT_EQ(nubrix::random_weighted(nullptr), -1);
  const int32_t single[] = {5, -1};
  const int32_t skewed[] = {1, 0, 100};  // ends at the 0: only index 0 exists
  for (int i = 0; i < 50; i++) {
    EXPECT_EQ(nubrix::random_weighted(single), 0);
    EXPECT_EQ(nubrix::random_weighted(skewed), 0);
  }
  const int32_t three[] = {1, 1000, 1, 0};
  int counts[3] = {0, 0, 0};
  for (int i = 0; i < 400; i++) {
    int32_t k = nubrix::random_weighted(three);
    ASSERT_GE(k, 0);
    ASSERT_LE(k, 2);
    counts[k]++;
  }
  EXPECT_GT(counts[1], 350);
  // Weights summing past 32 bits do not wrap.
  const int32_t big[] = {INT32_MAX, INT32_MAX, INT32_MAX, 0};
  for (int i = 0; i < 20; i++) EXPECT_LE(nubrix::random_weighted(big), 2);
}

TEST(Ids, CountUpFromOneCounter) {
  uint64_t a = nubrix::iid();
  uint32_t b = nubrix::iid32();
  uint64_t c = nubrix::iid();
  EXPECT_GE(a, 10u);
  EXPECT_EQ(b, a + 1);
  EXPECT_EQ(c, a + 2);
}

TEST(Ids, ThirtyTwoBitIdsSkipZeroAtTheWrap) {
  EXPECT_EQ(run_child("IdWrap", {}), "4294967293 4294967294 1 2");
}

TEST(Ids, FirstIdOfAProcessIsTen) {
  EXPECT_EQ(run_child("Ids", {}), "10 11 12");
}

TEST(Clocks, AgreeWithTheSystem) {
  int64_t s = nubrix::time_second();
  int64_t us = nubrix::time_micro();
  EXPECT_LE(s, time(nullptr));
  EXPECT_LE(us / 1000000 - s, 1);
  EXPECT_GE(us / 1000000, s);
  int64_t m1 = nubrix::time_monotonic();
  usleep(20000);
  int64_t m2 = nubrix::time_monotonic();
  EXPECT_GE(m2 - m1, 20000);
  EXPECT_LT(m2 - m1, 5000000);
}

TEST(HostInfo, Texts) {
  EXPECT_EQ(str(nubrix::version()), "v0.5.2");
  EXPECT_EQ(str(nubrix::platform()), "linux");
  EXPECT_EQ(str(nubrix::system_name()), "Linux");
  std::string info = str(nubrix::info());
  char host[256] = {0};
  gethostname(host, 255);
  EXPECT_EQ(info.find(std::string("host: ") + host + "\nsys: Linux\nmachine: "), 0u) << info;
  for (const char* key : {"\nnodename: ", "\nversion: ", "\nrelease: "}) {
    EXPECT_NE(info.find(key), std::string::npos) << key;
  }
  EXPECT_TRUE(nubrix::info().shares_core_with(nubrix::info()));  // computed once
}

TEST(HostInfo, LanguageFromTheEnvironment) {
  struct Case {
    std::vector<std::string> env;
    const char* language;
  } cases[] = {
      {{}, "en_US"},
      {{"LANG=en_GB.UTF-8"}, "en_GB"},
      {{"LANG=de_DE"}, "de_DE"},
      {{"LC_ALL=fr_FR.ISO-8859-1"}, "fr_FR"},
      {{"LANG=ja_JP.UTF-8", "LC_ALL=fr_FR.UTF-8"}, "ja_JP"},  // LANG comes first
      {{"LANG=", "LC_ALL=it_IT.UTF-8"}, "it_IT"},             // an empty LANG is unset
      {{"LANG="}, "en_US"},
      {{"LANG=.UTF-8"}, "en_US"},
      {{"LANG=C"}, "C"},
      {{"LANG=zh_CN.GB18030.x"}, "zh_CN"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run_child("Language", c.env), c.language) << (c.env.empty() ? "" : c.env[0]);
  }
}

// Run only as children of the tests above, in a process of their own.
TEST(UtilChild, Ids) {
  if (!in_child()) GTEST_SKIP() << "runs in a child process";
  uint64_t a = nubrix::iid();
  uint64_t b = nubrix::iid();
  uint32_t c = nubrix::iid32();
  printf("<<%llu %llu %u>>\n", (unsigned long long)a, (unsigned long long)b, c);
}

TEST(UtilChild, IdWrap) {
  if (!in_child()) GTEST_SKIP() << "runs in a child process";
  nubrix::set_iid_counter(4294967293u);
  uint32_t a = nubrix::iid32();
  uint32_t b = nubrix::iid32();
  uint32_t c = nubrix::iid32();  // 4294967295 % 4294967295 is 0: skipped
  uint32_t d = nubrix::iid32();
  printf("<<%u %u %u %u>>\n", a, b, c, d);
}

TEST(UtilChild, Language) {
  if (!in_child()) GTEST_SKIP() << "runs in a child process";
  printf("<<%s>>\n", nubrix::language().c_str());
}

}  // namespace
