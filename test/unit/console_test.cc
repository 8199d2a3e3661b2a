// The console: the global logging functions and their texts, replacing the console,
// the default console's output and the fatal report.
#include "utils/console.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "utils/error.h"

using namespace nubrix;

namespace {

struct Entry {
  std::string op;
  std::string text;
  bool operator==(const Entry& o) const { return op == o.op && text == o.text; }
};
std::ostream& operator<<(std::ostream& os, const Entry& e) {
  return os << e.op << "(\"" << e.text << "\")";
}

// Records every call instead of printing.
class CaptureConsole : public Console {
 public:
  CaptureConsole(std::vector<Entry>* out, bool* destroyed) : out_(out), destroyed_(destroyed) {}
  ~CaptureConsole() override {
    if (destroyed_) *destroyed_ = true;
  }
  void log(const String& t) override { add("log", t); }
  void warn(const String& t) override { add("warn", t); }
  void error(const String& t) override { add("error", t); }
  void print(const String& t) override { add("print", t); }
  void print_err(const String& t) override { add("print_err", t); }
  void clear() override { out_->push_back({"clear", ""}); }

 private:
  void add(const char* op, const String& t) {
    out_->push_back({op, std::string(t.c_str(), t.length())});
  }
  std::vector<Entry>* out_;
  bool* destroyed_;
};

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override { set_console(new CaptureConsole(&entries, &destroyed)); }
  void TearDown() override { set_console(nullptr); }
  std::vector<Entry> entries;
  bool destroyed = false;
};

TEST_F(ConsoleTest, GlobalFunctionsReachTheConsole) {
  struct Case {
    std::function<void()> call;
    Entry expected;
  } cases[] = {
      {[] { log(String("text")); }, {"log", "text"}},
      {[] { log("c string"); }, {"log", "c string"}},
      {[] { log(String16("ascii")); }, {"log", "ascii"}},
      {[] { log(String16(String("h\xc3\xa9"))); }, {"log", "h\xc3\xa9"}},
      {[] { log((int32_t)-5); }, {"log", "-5"}},
      {[] { log((uint32_t)4000000000u); }, {"log", "4000000000"}},
      {[] { log((int64_t)-9000000000ll); }, {"log", "-9000000000"}},
      {[] { log((uint64_t)18446744073709551615ull); }, {"log", "18446744073709551615"}},
      {[] { log((int16_t)-32768); }, {"log", "-32768"}},
      {[] { log((uint16_t)65535); }, {"log", "65535"}},
      {[] { log((int8_t)-128); }, {"log", "-128"}},
      {[] { log((uint8_t)255); }, {"log", "255"}},
      {[] { log(1.5f); }, {"log", "1.500000"}},
      {[] { log(-2.25); }, {"log", "-2.250000"}},
      {[] { log(true); }, {"log", "true"}},
      {[] { log(false); }, {"log", "false"}},
      {[] { log(Error()); }, {"log", "Error: -1 \n message:\n\tunknown exception"}},
      {[] { log(Error(-2, String("gone"))); }, {"log", "Error: -2 \n message:\n\tgone"}},
      {[] { log("%d-%s", 4, "a"); }, {"log", "4-a"}},
      {[] { warn(String("careful")); }, {"warn", "careful"}},
      {[] { warn("%u left", 3u); }, {"warn", "3 left"}},
      {[] { error(String("bad")); }, {"error", "bad"}},
      {[] { error("bad %s", "input"); }, {"error", "bad input"}},
      {[] { print(String("no newline")); }, {"print", "no newline"}},
      {[] { print("%c%c", 'o', 'k'); }, {"print", "ok"}},
      {[] { print_err(String("err")); }, {"print_err", "err"}},
      {[] { print_err("%x", 255); }, {"print_err", "ff"}},
      {[] { clear(); }, {"clear", ""}},
  };
  for (const Case& c : cases) {
    entries.clear();
    c.call();
    ASSERT_EQ(entries.size(), 1u) << c.expected;
    EXPECT_EQ(entries[0], c.expected);
  }
  entries.clear();
  log_tag("[tag]", "%d items", 3);
  EXPECT_EQ(entries, (std::vector<Entry>{{"print", "[tag] "}, {"log", "3 items"}}));
}

TEST_F(ConsoleTest, SetConsoleTwiceKeepsIt) {
  Console* current = get_console();
  set_console(current);
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(get_console(), current);
  log("still here");
  EXPECT_EQ(entries.back(), (Entry{"log", "still here"}));

  std::vector<Entry> other;
  bool other_destroyed = false;
  set_console(new CaptureConsole(&other, &other_destroyed));
  EXPECT_TRUE(destroyed);  // the previous console is deleted
  log("to the other");
  EXPECT_EQ(other.size(), 1u);
  EXPECT_EQ(entries.back(), (Entry{"log", "still here"}));
}

TEST(DefaultConsole, WritesEverythingToStandardOutput) {
  set_console(nullptr);
  testing::internal::CaptureStdout();
  log("first");  // creates the default console
  warn(String("w"));
  error(String("e"));
  print(String("p"));
  print_err(String("q"));
  log(false);
  clear();
  fflush(stdout);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "first\nWarning: w\ne\npqfalse\n");
  EXPECT_NE(get_console(), nullptr);
}

TEST(DefaultConsole, StackTrace) {
  testing::internal::CaptureStdout();
  stack_trace();
  fflush(stdout);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("\n==== C stack trace ===============================\n\n 1: ", 0), 0u);
  EXPECT_NE(out.find("\n 2: "), std::string::npos);
}

// fatal() writes its report to standard output; a death test reads standard error.
TEST(ConsoleDeathTest, FatalReport) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        fflush(stdout);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        set_console(new Console());
        fatal("utils/console", 42, "probe", "bad %s %d", "state", 7);
      },
      "\n\n\nbad state 7\n#\n# Fatal error in utils/console, line 42, func probe\n# \n\n\n"
      "==== C stack trace ===============================\n\n 1: ");
  EXPECT_DEATH(
      {
        fflush(stdout);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        fatal("utils/console", 7, "plain");
      },
      "^#\n# Fatal error in utils/console, line 7, func plain\n# \n\n\n==== C stack trace");
}

}  // namespace
