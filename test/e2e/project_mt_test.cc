// A project build of every golden case at once: `jsxc SRC_DIR OUT_DIR` compiles the
// files in parallel on the run loop's thread pool, so this program also runs under
// ThreadSanitizer (where any report makes jsxc fail). Each output must equal the
// golden case's expected output, which the golden suite checks to be the single-file
// result; each failing case must print its single-file message with the path under
// SRC, and the messages must come out sorted by path however the jobs ran.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/run_tool.h"

namespace fs = std::filesystem;

namespace nubrix {
namespace test {
namespace {

struct Case {
  std::string rel;       // path of the source below SRC
  fs::path dir;          // the golden folder
  bool error = false;    // error.txt instead of out.js
  bool cleaned = false;  // the case runs with --clean-comment
};

// Every golden case, as <group>/<case>/src.js[x], in byte order of that path.
std::vector<Case> golden_cases() {
  std::vector<Case> cases;
  for (const auto& group : fs::directory_iterator(fs::path(TEST_DIR) / "golden")) {
    if (!group.is_directory()) continue;
    for (const auto& dir : fs::directory_iterator(group.path())) {
      for (const char* name : {"src.js", "src.jsx"}) {
        if (!fs::exists(dir.path() / name)) continue;
        Case c;
        c.rel =
            group.path().filename().string() + "/" + dir.path().filename().string() + "/" + name;
        c.dir = dir.path();
        c.error = fs::exists(dir.path() / "error.txt");
        c.cleaned = fs::exists(dir.path() / "args");
        cases.push_back(c);
      }
    }
  }
  std::sort(cases.begin(), cases.end(), [](const Case& a, const Case& b) { return a.rel < b.rel; });
  return cases;
}

// The single-file message names the source as typed ("src.js"); in a project build it
// is named by its path below SRC as typed.
std::string project_message(const Case& c, const std::string& src) {
  std::string text = read_whole_file(c.dir / "error.txt");
  std::string name = fs::path(c.rel).filename().string();
  size_t at = text.rfind(", " + name + "\n");
  EXPECT_NE(at, std::string::npos) << c.rel;
  return text.substr(0, at + 2) + src + "/" + c.rel + "\n";
}

// Every regular file below `root`, relative to it.
std::set<std::string> files_below(const fs::path& root) {
  std::set<std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) files.insert(fs::relative(e.path(), root).string());
  }
  return files;
}

std::string without_time(const std::string& out) {
  return std::regex_replace(out, std::regex(" in [0-9]+ ms\n"), "\n");
}

TEST(ProjectBuild, MirrorsTheSingleFileResultsOfEveryGoldenCase) {
  TempDir dir("jsxc-project");
  ASSERT_TRUE(dir.ok());
  std::vector<Case> cases = golden_cases();
  ASSERT_GT(cases.size(), 300u);

  // Two trees: the cases without extra words, and those with --clean-comment.
  std::map<bool, std::vector<Case>> trees;
  for (const Case& c : cases) {
    fs::path target = dir / (c.cleaned ? "clean" : "src") / c.rel;
    fs::create_directories(target.parent_path());
    fs::copy_file(c.dir / target.filename(), target);
    trees[c.cleaned].push_back(c);
  }
  // Other files are left alone, and a link is never followed, out of SRC or not.
  ASSERT_TRUE(write_whole_file(dir / "src/README.md", "# not a source\n"));
  ASSERT_TRUE(write_whole_file(dir / "outside.js", "outside;\n"));
  fs::create_symlink(dir / "outside.js", dir / "src/link.js");
  fs::create_directory_symlink(dir / "src/module", dir / "src/linked-folder");

  for (bool cleaned : {false, true}) {
    std::string src = cleaned ? "clean" : "src";
    std::string out = cleaned ? "clean-out" : "out";
    std::vector<std::string> argv = {JSXC_BIN, src, out};
    if (cleaned) argv.push_back("--clean-comment");
    ToolResult r = run_tool(argv, dir.path().string(), 240);
    ASSERT_EQ(r.signal, 0) << r.err;
    EXPECT_EQ(r.err, "");  // also: no sanitizer report

    std::string expected_out;
    std::set<std::string> expected_files = {".jsxc-manifest"};
    uint32_t compiled = 0, failed = 0;
    for (const Case& c : trees[cleaned]) {
      if (c.error) {
        expected_out += project_message(c, src);
        failed++;
        continue;
      }
      compiled++;
      expected_files.insert(c.rel);
      std::string expected = read_whole_file(c.dir / "out.js");
      std::string actual = read_whole_file(dir / out / c.rel);
      EXPECT_EQ(actual, expected) << c.rel << ": " << describe_difference(expected, actual);
    }
    expected_out += "jsxc: " + std::to_string(compiled) + " compiled, 0 unchanged, " +
                    std::to_string(failed) + " failed\n";
    EXPECT_EQ(without_time(r.out), expected_out);
    EXPECT_EQ(r.status, failed ? 1 : 0);
    EXPECT_EQ(files_below(dir / out), expected_files);
  }

  // The outputs are those of the single-file command line, byte for byte (a sample of
  // every group, to keep the run short).
  std::set<std::string> sampled;
  for (const Case& c : trees[false]) {
    std::string group = c.rel.substr(0, c.rel.find('/'));
    if (c.error || !sampled.insert(group).second) continue;
    ToolResult r = run_tool({JSXC_BIN, "src/" + c.rel, "single.js"}, dir.path().string());
    ASSERT_EQ(r.status, 0) << c.rel << r.out;
    EXPECT_EQ(read_whole_file(dir / "single.js"), read_whole_file(dir / "out" / c.rel)) << c.rel;
  }
}

}  // namespace
}  // namespace test
}  // namespace nubrix
