// The test262 parser tests (npm package test262-parser-tests 0.0.5, installed by
// scripts/setup.sh into build-deps/test262, or found at $TEST262_DIR), run in-process
// through the compiler library:
//   - pass/ and pass-explicit/ (valid programs): every file compiles, and a file
//     without `import`/`export` comes out byte for byte with only the trailer's line
//     feed added;
//   - fail/ and early/ (invalid programs): no file crashes or hangs, and a refused
//     file leaves no output and reports one message with a position inside the file.
// Files named *.module.js are modules, the others scripts; the compiler reads both
// the same way.
//
// The files the compiler does not handle yet, or never will (the HTML-like comments
// of scripts), are listed in test/test262/expected-failures.txt with their reason. A
// listed file that now passes fails the test as well, so the list cannot go stale.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/last_message_console.h"
#include "tools/driver.h"
#include "utils/codec.h"
#include "utils/console.h"
#include "utils/error.h"

namespace fs = std::filesystem;

namespace nubrix {
namespace {

fs::path suite_dir() {
  const char* dir = getenv("TEST262_DIR");
  if (dir && *dir) return fs::path(dir);
  return fs::path(SOURCE_DIR) / "build-deps/test262/node_modules/test262-parser-tests";
}

bool suite_installed() {
  return fs::is_directory(suite_dir() / "pass") && fs::is_directory(suite_dir() / "fail");
}

#define REQUIRE_SUITE()                                                                   \
  if (!suite_installed()) {                                                               \
    fprintf(stderr,                                                                       \
            "\n*** test262-parser-tests is NOT installed (looked in %s).\n"               \
            "*** Run `sh scripts/setup.sh` with network access, or set TEST262_DIR.\n\n", \
            suite_dir().c_str());                                                         \
    GTEST_SKIP() << "test262-parser-tests is not installed in " << suite_dir()            \
                 << "; run `sh scripts/setup.sh` (needs network) or set TEST262_DIR";     \
  }

std::vector<std::string> files_of(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(suite_dir() / folder)) {
    std::string name = e.path().filename().string();
    if (e.is_regular_file() && name.size() > 3 && name.compare(name.size() - 3, 3, ".js") == 0) {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string read_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

String16 decode(const std::string& bytes) {
  return String16(utf8_to_utf16(bytes.data(), (uint32_t)bytes.size()));
}

// folder/file -> category, from test/test262/expected-failures.txt.
std::map<std::string, std::string> expected_failures() {
  std::map<std::string, std::string> list;
  std::ifstream in(fs::path(TEST_DIR) / "test262/expected-failures.txt");
  EXPECT_TRUE(in.good()) << "cannot read test/test262/expected-failures.txt";
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string file, category;
    words >> file >> category;
    if (!file.empty()) list[file] = category;
  }
  return list;
}

bool has_module_syntax(const std::string& source) {
  return source.find("import") != std::string::npos || source.find("export") != std::string::npos;
}

// Compiles every file of a valid folder; returns the files that failed, with why.
std::map<std::string, std::string> run_valid_folder(const std::string& folder, int* identical) {
  std::map<std::string, std::string> failed;
  for (const std::string& name : files_of(folder)) {
    std::string bytes = read_bytes(suite_dir() / folder / name);
    String16 source = decode(bytes);
    String16 output;
    try {
      output = transform_js(String(name.c_str()), source, false);
    } catch (const Error& e) {
      failed[folder + "/" + name] = std::string("refused: ") + e.message().c_str();
      continue;
    }
    if (has_module_syntax(bytes)) continue;
    String16 expected(source);
    expected.push((uint16_t)'\n');
    bool same = output.length() == expected.length() &&
                std::equal(output.data(), output.data() + output.length(), expected.data());
    if (same) {
      (*identical)++;
    } else {
      failed[folder + "/" + name] = "compiled, but the output differs from the source";
    }
  }
  return failed;
}

// Compares the failures of one folder with the list: both an unlisted failure and a
// listed file that passes are errors.
void check_against_list(const std::string& folder,
                        const std::map<std::string, std::string>& failed) {
  std::map<std::string, std::string> listed = expected_failures();
  std::string prefix = folder + "/";
  size_t listed_here = 0;
  for (const auto& [file, why] : failed) {
    if (!listed.count(file))
      ADD_FAILURE() << file << ": " << why << " (not in expected-failures.txt)";
  }
  for (const auto& [file, category] : listed) {
    if (file.compare(0, prefix.size(), prefix) != 0) continue;
    listed_here++;
    if (!fs::exists(suite_dir() / file)) {
      ADD_FAILURE() << file << " is listed in expected-failures.txt but is not in the suite";
    } else if (!failed.count(file)) {
      ADD_FAILURE() << file << " (" << category
                    << ") now passes: remove it from expected-failures.txt";
    }
  }
  printf("%s: %zu files failed, %zu listed as expected\n", folder.c_str(), failed.size(),
         listed_here);
}

void run_valid(const std::string& folder) {
  int identical = 0;
  std::map<std::string, std::string> failed = run_valid_folder(folder, &identical);
  size_t total = files_of(folder).size();
  printf("%s: %zu files, %zu compiled, %d scripts without import/export identical\n",
         folder.c_str(), total, total - failed.size(), identical);
  check_against_list(folder, failed);
}

// Invalid programs: each is compiled through `transpile`, the driver's path. A refusal
// must leave the output empty and report exactly one message that ends in
// "\nline:N, pos:M, <file>" within the file.
void run_invalid(const std::string& folder) {
  LastMessageConsole* console = new LastMessageConsole();
  set_console(console);  // owned by the console slot from here on
  size_t refused = 0, accepted = 0;
  for (const std::string& name : files_of(folder)) {
    std::string bytes = read_bytes(suite_dir() / folder / name);
    String16 source = decode(bytes);
    Buffer out;
    console->count = 0;
    int rc = transpile(String(name.c_str()), source, out, false, false);
    if (rc == 0) {
      accepted++;
      EXPECT_EQ(console->count, 0) << folder << "/" << name;
      EXPECT_GT(out.length(), 0u) << folder << "/" << name;
      continue;
    }
    refused++;
    EXPECT_EQ(rc, 1) << folder << "/" << name;
    EXPECT_EQ(out.length(), 0u) << folder << "/" << name << ": output left after a refusal";
    EXPECT_EQ(console->count, 1) << folder << "/" << name;
    const std::string& m = console->last;
    std::string tail = ", " + name;
    size_t at = m.rfind("\nline:");
    EXPECT_TRUE(at != std::string::npos && m.size() >= tail.size() &&
                m.compare(m.size() - tail.size(), tail.size(), tail) == 0)
        << folder << "/" << name << ": " << m;
    if (at != std::string::npos) {
      long line = strtol(m.c_str() + at + 6, nullptr, 10);
      long lines = 1 + (long)std::count(bytes.begin(), bytes.end(), '\n');
      for (size_t i = 0; i + 2 < bytes.size(); i++) {
        if (bytes[i] == '\xE2' && bytes[i + 1] == '\x80' &&
            (bytes[i + 2] == '\xA8' || bytes[i + 2] == '\xA9')) {
          lines++;
        }
      }
      EXPECT_TRUE(line >= 1 && line <= lines) << folder << "/" << name << ": " << m;
    }
  }
  set_console(nullptr);
  printf("%s: %zu files, %zu refused, %zu compiled (the compiler checks tokens, not grammar)\n",
         folder.c_str(), refused + accepted, refused, accepted);
}

TEST(Test262, PassCompiles) {
  REQUIRE_SUITE();
  run_valid("pass");
}

TEST(Test262, PassExplicitCompiles) {
  REQUIRE_SUITE();
  run_valid("pass-explicit");
}

TEST(Test262, FailNeverCrashesOrLeavesOutput) {
  REQUIRE_SUITE();
  run_invalid("fail");
}

TEST(Test262, EarlyNeverCrashesOrLeavesOutput) {
  REQUIRE_SUITE();
  run_invalid("early");
}

}  // namespace
}  // namespace nubrix
