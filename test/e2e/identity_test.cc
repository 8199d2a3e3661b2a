// Real libraries through the compiler. Plain ES5/CommonJS code without import, export or
// class must come out exactly as it went in, plus the one line feed of the module
// trailer. With --clean-comment the result must keep every line and still parse.
//
// The libraries come from npm, installed once per build tree (pinned versions, no
// install scripts) into <build>/identity-npm; the first run needs npm and the network,
// later runs reuse the folder. Without npm or the network the tests are skipped with
// the reason.
//
// Left out, because they fall outside the accepted dialect: async 3 (dist/async.js is
// ES2017 and has a class with a computed generator member, `*[Symbol.iterator]()`,
// which a class body does not accept).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_tool.h"

namespace fs = std::filesystem;

namespace nubrix {
namespace test {
namespace {

// The packages to install, pinned so the inputs never change under the test.
const char* const kPackages[] = {
    "underscore@1.13.6", "q@1.5.1",      "bluebird@3.7.2", "moment@2.29.4",
    "backbone@1.5.0",    "jquery@3.7.1", "async@2.6.4",    "lodash@4.17.21",
};

struct Library {
  const char* name;
  const char* file;  // under node_modules
};

const Library kLibraries[] = {
    {"underscore", "underscore/underscore-umd.js"},
    {"q", "q/q.js"},
    {"bluebird", "bluebird/js/browser/bluebird.js"},
    {"moment", "moment/moment.js"},
    {"backbone", "backbone/backbone.js"},
    {"jquery", "jquery/dist/jquery.js"},
    {"async", "async/dist/async.js"},
    {"lodash", "lodash/lodash.js"},
};

void PrintTo(const Library& l, std::ostream* os) {
  *os << l.file;
}

fs::path cache_dir() {
  return fs::path(JSXC_BIN).parent_path() / "identity-npm";
}

// The full path of a program found on PATH, or empty.
std::string find_program(const std::string& name) {
  const char* path = getenv("PATH");
  std::istringstream dirs(path ? path : "");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (dir.empty()) continue;
    fs::path p = fs::path(dir) / name;
    if (access(p.c_str(), X_OK) == 0) return p.string();
  }
  return "";
}

std::string package_list() {
  std::string s;
  for (const char* p : kPackages) s += std::string(p) + "\n";
  return s;
}

// Makes sure the pinned packages are in the cache folder. Several test processes may
// start at once, so the check and the install run under a file lock. Returns an empty
// string on success, else why the libraries are not available.
std::string ensure_installed() {
  std::error_code ec;
  fs::create_directories(cache_dir(), ec);
  if (ec) return "cannot create " + cache_dir().string() + ": " + ec.message();
  int lock = open((cache_dir() / "lock").c_str(), O_CREAT | O_RDWR, 0644);
  if (lock < 0) return "cannot open the lock file in " + cache_dir().string();
  flock(lock, LOCK_EX);
  std::string reason;
  fs::path stamp = cache_dir() / "installed.txt";
  std::string installed;
  if (!read_whole_file(stamp, &installed) || installed != package_list()) {
    std::string npm = find_program("npm");
    if (npm.empty()) {
      reason = "npm is not on PATH";
    } else {
      std::vector<std::string> argv = {npm,
                                       "install",
                                       "--prefix",
                                       cache_dir().string(),
                                       "--no-save",
                                       "--ignore-scripts",
                                       "--no-audit",
                                       "--no-fund",
                                       "--loglevel=error"};
      for (const char* p : kPackages) argv.push_back(p);
      ToolResult r = run_tool(argv, cache_dir().string(), 240);
      if (r.status != 0) {
        reason = "npm install failed (status " + std::to_string(r.status) + "): " + r.out + r.err;
      } else if (!write_whole_file(stamp, package_list())) {
        reason = "cannot write " + stamp.string();
      }
    }
  }
  flock(lock, LOCK_UN);
  close(lock);
  return reason;
}

class Identity : public ::testing::TestWithParam<Library> {
 protected:
  void SetUp() override {
    std::string reason = ensure_installed();
    if (!reason.empty()) GTEST_SKIP() << "libraries not available: " << reason;
    fs::path file = cache_dir() / "node_modules" / GetParam().file;
    ASSERT_TRUE(read_whole_file(file, &source_)) << "missing " << file;
    ASSERT_TRUE(work_.ok());
    ASSERT_TRUE(write_whole_file(work_ / "lib.js", source_));
  }

  ToolResult compile(const std::vector<std::string>& extra) {
    std::vector<std::string> argv = {JSXC_BIN, "lib.js", "out.js"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return run_tool(argv, work_.path().string());
  }

  std::string source_;
  TempDir work_{"jsxc-identity"};
};

TEST_P(Identity, OutputIsSourcePlusTrailer) {
  ToolResult r = compile({});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "");
  std::string output = read_whole_file(work_ / "out.js");
  std::string expected = source_ + "\n";
  EXPECT_TRUE(output == expected) << describe_difference(expected, output);
}

TEST_P(Identity, CleanCommentKeepsLinesAndParses) {
  ToolResult r = compile({"--clean-comment"});
  ASSERT_EQ(r.status, 0) << r.out;
  std::string output = read_whole_file(work_ / "out.js");
  EXPECT_EQ(count_line_feeds(output), count_line_feeds(source_) + 1);
  EXPECT_LT(output.size(), source_.size()) << "no comment text was removed";
  // The cleaned code must still be valid JavaScript.
  std::string node = find_program("node");
  if (node.empty()) GTEST_SKIP() << "node is not on PATH; the syntax check was not run";
  ToolResult check = run_tool({node, "--check", "out.js"}, work_.path().string());
  EXPECT_EQ(check.status, 0) << check.out << check.err;
}

INSTANTIATE_TEST_SUITE_P(Libraries, Identity, ::testing::ValuesIn(kLibraries),
                         [](const ::testing::TestParamInfo<Library>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace test
}  // namespace nubrix
