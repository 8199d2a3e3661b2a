// Golden cases for the compiler: every folder test/golden/<group>/<case>/ holds a source
// (src.js or src.jsx, exact bytes) and the expected result, either out.js (the exact
// output of a successful compile) or error.txt (the exact standard output of a failing
// compile, which must exit with 1 and leave an existing output file alone). An optional
// file `args` holds extra command-line words, separated by blanks.
//
// Each case runs the built jsxc in a fresh temporary folder as `jsxc src.js out.js [args]`,
// so the messages name the source exactly as `src.js`.
//
// UPDATE_GOLDEN=1 rewrites the expected files from what the compiler produced, for a human
// to review in the diff.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_tool.h"

namespace fs = std::filesystem;

namespace nubrix {
namespace test {
namespace {

const char* const kSourceNames[] = {"src.js", "src.jsx"};
const char* const kExpectNames[] = {"out.js", "error.txt"};

fs::path golden_root() {
  return fs::path(TEST_DIR) / "golden";
}

struct GoldenCase {
  std::string group;
  std::string name;
  fs::path dir;
};

// Test listings name the case by its folder, not by the bytes of the record.
void PrintTo(const GoldenCase& c, std::ostream* os) {
  *os << c.group << "/" << c.name;
}

// Every <group>/<case> folder, sorted, so the test list is the same on every machine.
std::vector<GoldenCase> discover_cases() {
  std::vector<GoldenCase> cases;
  std::error_code ec;
  for (const auto& group : fs::directory_iterator(golden_root(), ec)) {
    if (!group.is_directory()) continue;
    for (const auto& c : fs::directory_iterator(group.path(), ec)) {
      if (!c.is_directory()) continue;
      cases.push_back({group.path().filename().string(), c.path().filename().string(), c.path()});
    }
  }
  std::sort(cases.begin(), cases.end(),
            [](const GoldenCase& a, const GoldenCase& b) { return a.dir < b.dir; });
  return cases;
}

std::string sanitize(const std::string& text) {
  std::string s = text;
  for (char& c : s) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!ok) c = '_';
  }
  return s;
}

std::string case_test_name(const GoldenCase& c) {
  return sanitize(c.group + "_" + c.name);
}

bool update_mode() {
  const char* v = getenv("UPDATE_GOLDEN");
  return v && std::string(v) == "1";
}

std::vector<std::string> read_words(const fs::path& path) {
  std::vector<std::string> words;
  std::istringstream in(read_whole_file(path));
  std::string w;
  while (in >> w) words.push_back(w);
  return words;
}

class Golden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(Golden, Compile) {
  const GoldenCase& c = GetParam();
  std::string source_name;
  for (const char* n : kSourceNames) {
    if (fs::exists(c.dir / n)) source_name = n;
  }
  ASSERT_FALSE(source_name.empty()) << c.dir << " has no src.js or src.jsx";
  bool expect_error = fs::exists(c.dir / "error.txt");
  bool expect_output = fs::exists(c.dir / "out.js");
  ASSERT_TRUE(update_mode() || expect_error != expect_output)
      << c.dir << " needs exactly one of out.js and error.txt";

  std::string source;
  ASSERT_TRUE(read_whole_file(c.dir / source_name, &source));
  std::vector<std::string> argv = {JSXC_BIN, source_name, "out.js"};
  if (fs::exists(c.dir / "args")) {
    for (const std::string& w : read_words(c.dir / "args")) argv.push_back(w);
  }

  TempDir work("jsxc-golden");
  ASSERT_TRUE(work.ok());
  ASSERT_TRUE(write_whole_file(work / source_name, source));
  // A compile that fails must not touch an output that is already there.
  const std::string old_output = "OLD";
  if (expect_error) {
    ASSERT_TRUE(write_whole_file(work / "out.js", old_output));
  }

  ToolResult r = run_tool(argv, work.path().string());
  ASSERT_EQ(r.signal, 0) << "jsxc was killed by signal " << r.signal << "\nstdout:\n"
                         << r.out << "\nstderr:\n"
                         << r.err;
  std::string output;
  bool has_output = read_whole_file(work / "out.js", &output);

  if (update_mode()) {
    std::error_code ec;
    if (r.status == 0) {
      ASSERT_TRUE(has_output);
      ASSERT_TRUE(write_whole_file(c.dir / "out.js", output));
      fs::remove(c.dir / "error.txt", ec);
    } else {
      ASSERT_TRUE(write_whole_file(c.dir / "error.txt", r.out));
      fs::remove(c.dir / "out.js", ec);
    }
    return;
  }

  if (expect_output) {
    std::string expected = read_whole_file(c.dir / "out.js");
    EXPECT_EQ(r.status, 0) << "stdout:\n" << r.out;
    EXPECT_EQ(r.out, "");
    ASSERT_TRUE(has_output) << "no out.js written";
    EXPECT_TRUE(output == expected) << describe_difference(expected, output);
    // Line numbers of the output follow the source: no line may get lost, and the
    // trailer adds at least one more line feed.
    EXPECT_GE(count_line_feeds(output), count_line_feeds(source) + 1)
        << "the output has lost lines of the source";
  } else {
    std::string expected = read_whole_file(c.dir / "error.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out == expected) << describe_difference(expected, r.out);
    EXPECT_TRUE(has_output && output == old_output) << "a failed compile changed out.js";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Golden, ::testing::ValuesIn(discover_cases()),
                         [](const ::testing::TestParamInfo<GoldenCase>& info) {
                           return case_test_name(info.param);
                         });

// The folders themselves: each case holds one source, exactly one expected file and
// nothing else, a group holds only case folders, and no two cases share a test name.
TEST(GoldenLayout, CaseFoldersAreWellFormed) {
  std::vector<GoldenCase> cases = discover_cases();
  EXPECT_FALSE(cases.empty()) << "no golden cases under " << golden_root();
  std::set<std::string> allowed = {"args"};
  for (const char* n : kSourceNames) allowed.insert(n);
  for (const char* n : kExpectNames) allowed.insert(n);

  std::set<std::string> names;
  for (const GoldenCase& c : cases) {
    EXPECT_TRUE(names.insert(case_test_name(c)).second)
        << "two cases share the test name " << case_test_name(c);
    int sources = 0;
    int expects = 0;
    for (const auto& f : fs::directory_iterator(c.dir)) {
      std::string n = f.path().filename().string();
      if (!f.is_regular_file() || !allowed.count(n)) {
        ADD_FAILURE() << "stray entry " << f.path();
        continue;
      }
      if (n == "src.js" || n == "src.jsx") sources++;
      if (n == "out.js" || n == "error.txt") expects++;
    }
    EXPECT_EQ(sources, 1) << c.dir << " must hold exactly one of src.js and src.jsx";
    EXPECT_EQ(expects, 1) << c.dir << " must hold exactly one of out.js and error.txt";
  }
  for (const auto& group : fs::directory_iterator(golden_root())) {
    if (!group.is_directory()) continue;
    for (const auto& f : fs::directory_iterator(group.path())) {
      if (!f.is_directory()) ADD_FAILURE() << "stray file " << f.path() << " outside a case";
    }
  }
}

}  // namespace
}  // namespace test
}  // namespace nubrix
