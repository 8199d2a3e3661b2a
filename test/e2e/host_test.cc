// Runs compiled output for real: every folder of test/host/programs is a small
// multi-module program that the Node host (test/host/host.js) compiles with the built
// jsxc and runs; what it prints must equal the folder's expected.txt (and, for a
// folder marked as ES modules by its package.json, what Node prints running it
// natively). A second group
// checks how the host reports compile errors, and the last test runs all of lodash-es
// through the host and compares its functions with the natively imported ones.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/run_tool.h"

namespace fs = std::filesystem;
using nubrix::test::read_whole_file;
using nubrix::test::run_tool;
using nubrix::test::TempDir;
using nubrix::test::ToolResult;
using nubrix::test::write_whole_file;

namespace {

const fs::path kHostDir = fs::path(TEST_DIR) / "host";

// The first executable named `name` on PATH, or an empty string.
std::string find_on_path(const std::string& name) {
  const char* env = getenv("PATH");
  std::string path = env ? env : "";
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    std::string dir = path.substr(start, end - start);
    if (!dir.empty()) {
      std::string candidate = dir + "/" + name;
      struct stat st;
      if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
          access(candidate.c_str(), X_OK) == 0) {
        return candidate;
      }
    }
    start = end + 1;
  }
  return "";
}

ToolResult run_host(const std::string& node, const fs::path& entry, const fs::path& cwd) {
  return run_tool({node, (kHostDir / "host.js").string(), "--jsxc", JSXC_BIN, entry.string()},
                  cwd.string(), 120);
}

struct Program {
  std::string name;
  fs::path dir;
  fs::path entry;  // main.js or main.jsx; empty when the folder has neither
};

void PrintTo(const Program& p, std::ostream* os) {
  *os << p.name;
}

std::vector<Program> list_programs() {
  std::vector<Program> programs;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(kHostDir / "programs", ec)) {
    if (!e.is_directory()) continue;
    Program p{e.path().filename().string(), e.path(), {}};
    for (const char* main : {"main.js", "main.jsx"}) {
      if (fs::exists(e.path() / main)) p.entry = e.path() / main;
    }
    programs.push_back(p);
  }
  std::sort(programs.begin(), programs.end(),
            [](const Program& a, const Program& b) { return a.name < b.name; });
  return programs;
}

std::string test_name(const testing::TestParamInfo<Program>& info) {
  std::string name = info.param.name;
  for (char& c : name) {
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

class HostProgram : public testing::TestWithParam<Program> {};

TEST_P(HostProgram, PrintsExpected) {
  const Program& p = GetParam();
  ASSERT_FALSE(p.entry.empty()) << p.dir << " has neither main.js nor main.jsx";
  std::string expected;
  ASSERT_TRUE(read_whole_file(p.dir / "expected.txt", &expected))
      << "missing " << p.dir / "expected.txt";
  std::string node = find_on_path("node");
  if (node.empty()) GTEST_SKIP() << "node is not installed";

  // Run from another folder, so that paths resolve against the requiring file only.
  TempDir cwd("jsxc-host");
  ASSERT_TRUE(cwd.ok());
  ToolResult r = run_host(node, p.entry, cwd.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, expected) << "standard error:\n" << r.err;

  // A folder with a package.json of "type": "module" is also a program that Node runs
  // natively as ES modules: both runs must print the same.
  std::string package;
  if (!read_whole_file(p.dir / "package.json", &package) ||
      package.find("\"module\"") == std::string::npos) {
    return;
  }
  ToolResult native = run_tool({node, p.entry.string()}, p.dir.string(), 120);
  EXPECT_EQ(native.status, 0) << native.err;
  EXPECT_EQ(native.out, expected) << "natively, standard error:\n" << native.err;
}

INSTANTIATE_TEST_SUITE_P(Programs, HostProgram, testing::ValuesIn(list_programs()), test_name);

TEST(HostPrograms, FolderIsNotEmpty) {
  EXPECT_GE(list_programs().size(), 4u);
}

// A compile error anywhere in the module graph stops the run before the entry's own
// code has printed anything: jsxc's message on standard error, exit status 1.
TEST(HostErrors, CompileErrors) {
  std::string node = find_on_path("node");
  if (node.empty()) GTEST_SKIP() << "node is not installed";
  struct Case {
    const char* what;
    const char* bad_source;  // the text of bad.js, imported by main.js
    const char* message;     // jsxc's message; the path follows it
  } cases[] = {
      {"stray bracket", "export const a = 1;\n)\n",
       "SyntaxError: Unexpected token\nline:2, pos:21, "},
      {"static field", "class A {\n  static x = 1;\n}\n",
       "SyntaxError: Unexpected token\nline:2, pos:22, "},
      {"event name", "class A {\n  event on1x;\n}\n",
       "Syntax error, event name incorrect\nline:2, pos:22, "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir("jsxc-host");
    ASSERT_TRUE(dir.ok());
    ASSERT_TRUE(write_whole_file(dir / "main.js", "console.log('before');\nimport './bad.js';\n"));
    ASSERT_TRUE(write_whole_file(dir / "bad.js", c.bad_source));
    ToolResult r = run_host(node, dir / "main.js", dir.path());
    EXPECT_EQ(r.status, 1);
    // The import is compiled in place, after the first line: that line has run.
    EXPECT_EQ(r.out, "before\n");
    // jsxc's message, then its report of the place ("path:line:column: error: ...").
    std::string message = std::string(c.message) + (dir / "bad.js").string() + "\n";
    EXPECT_EQ(r.err.substr(0, message.size()), message);
    EXPECT_EQ(r.err.substr(message.size()).rfind((dir / "bad.js").string() + ":2:", 0), 0u)
        << r.err;
  }
}

// A run-time error is Node's own: a stack trace naming the source file and line (the
// compiled text keeps the source's lines), exit status 1.
TEST(HostErrors, RuntimeErrorNamesSourceLine) {
  std::string node = find_on_path("node");
  if (node.empty()) GTEST_SKIP() << "node is not installed";
  TempDir dir("jsxc-host");
  ASSERT_TRUE(dir.ok());
  ASSERT_TRUE(write_whole_file(dir / "main.js", "import {f} from './lib.js';\nf();\n"));
  ASSERT_TRUE(write_whole_file(dir / "lib.js",
                               "// lib\nexport function f() {\n  throw new Error('boom');\n}\n"));
  ToolResult r = run_host(node, dir / "main.js", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Error: boom"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find((dir / "lib.js").string() + ":3"), std::string::npos) << r.err;
}

// lodash-es, installed once per build tree, run file by file through the host.
// Every host program compiled with --sourcemap, its map read by the npm package
// source-map (installed by scripts/setup.sh): each name leads back to its source line
// and column (test/host/sourcemap-check.js).
TEST(HostSourceMaps, EveryNameMapsBack) {
  std::string node = find_on_path("node");
  if (node.empty()) GTEST_SKIP() << "node is not installed";
  fs::path package =
      fs::path(SOURCE_DIR) / "build-deps" / "source-map" / "node_modules" / "source-map";
  if (!fs::exists(package / "package.json")) GTEST_SKIP() << "run scripts/setup.sh for source-map";
  ToolResult r = run_tool({node, (kHostDir / "sourcemap-check.js").string(), "--jsxc", JSXC_BIN,
                           package.string(), (kHostDir / "programs").string()},
                          "", 120);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("ok view-markup/main.jsx"), std::string::npos) << r.out;
}

TEST(HostLodash, AgreesWithNativeImport) {
  std::string node = find_on_path("node");
  std::string npm = find_on_path("npm");
  if (node.empty() || npm.empty()) GTEST_SKIP() << "node or npm is not installed";
  fs::path prefix = fs::path(JSXC_BIN).parent_path() / "host-npm";
  fs::path package = prefix / "node_modules" / "lodash-es";
  if (!fs::exists(package / "package.json")) {
    ToolResult r = run_tool({node, npm, "install", "--prefix", prefix.string(), "--no-save",
                             "--ignore-scripts", "--no-audit", "--no-fund", "lodash-es@4.17.21"},
                            "", 300);
    if (r.status != 0 || !fs::exists(package / "package.json")) {
      GTEST_SKIP() << "cannot install lodash-es with npm (status " << r.status << "):\n"
                   << r.out << r.err;
    }
  }
  ToolResult r = run_tool(
      {node, (kHostDir / "lodash-check.js").string(), "--jsxc", JSXC_BIN, package.string()}, "",
      300);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  size_t agreed = 0;
  size_t pos = 0;
  while ((pos = r.out.find("\nok ", pos)) != std::string::npos) {
    agreed++;
    pos++;
  }
  EXPECT_GE(agreed, 30u) << r.out;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
  // Show the load summary in the log.
  std::string summary;
  size_t line = 0;
  while (line < r.out.size()) {
    size_t end = r.out.find('\n', line);
    if (end == std::string::npos) end = r.out.size();
    std::string text = r.out.substr(line, end - line);
    if (text.rfind("loaded", 0) == 0 || text.rfind("lodash-check", 0) == 0) {
      summary += text + "\n";
    }
    line = end + 1;
  }
  std::cout << summary;
}

}  // namespace
