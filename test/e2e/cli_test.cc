// The command line of the built jsxc: argument checks, dialect choice by extension,
// the --clean-comment word, exit statuses, and what happens to the output file when a
// compile or a file operation fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/run_tool.h"

namespace fs = std::filesystem;

namespace nubrix {
namespace test {
namespace {

class Cli : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.ok()); }

  // Runs jsxc with the given words in the test folder.
  ToolResult jsxc(const std::vector<std::string>& words) {
    std::vector<std::string> argv = {JSXC_BIN};
    argv.insert(argv.end(), words.begin(), words.end());
    ToolResult r = run_tool(argv, dir_.path().string());
    EXPECT_EQ(r.signal, 0) << "jsxc was killed; stdout:\n" << r.out;
    return r;
  }
  void put(const std::string& name, const std::string& text) {
    ASSERT_TRUE(write_whole_file(dir_ / name, text));
  }
  std::string get(const std::string& name) { return read_whole_file(dir_ / name); }
  bool has(const std::string& name) { return fs::exists(dir_ / name); }

  TempDir dir_{"jsxc-cli"};
};

TEST_F(Cli, FewerThanTwoPathsIsBadArgument) {
  put("a.js", "x;\n");
  for (const auto& words : std::vector<std::vector<std::string>>{{}, {"a.js"}, {"missing.js"}}) {
    ToolResult r = jsxc(words);
    EXPECT_EQ(r.status, 1) << words.size() << " words";
    // With one word the file system is not looked at, so even a missing file gives the
    // plain message.
    EXPECT_EQ(r.out, "Bad argument.\n") << words.size() << " words";
  }
}

TEST_F(Cli, MissingSourceNamedAsTyped) {
  for (std::string path : {"missing.js", "./sub/../missing.jsx", "missing.ts"}) {
    ToolResult r = jsxc({path, "out.js"});
    EXPECT_EQ(r.status, 1);
    // The existence check comes before the extension check, so missing.ts is "cannot find".
    EXPECT_EQ(r.out, "Bad argument. cannot find " + path + "\n");
    EXPECT_FALSE(has("out.js"));
  }
}

TEST_F(Cli, UnsupportedExtensionsAreBadArgument) {
  for (std::string name : {"a.JSX", "a.JS", "a.ts", "a.jsx.bak", "a.js.map", "noext"}) {
    put(name, "x;\n");
    ToolResult r = jsxc({name, "out.js"});
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_EQ(r.out, "Bad argument.\n") << name;
    EXPECT_FALSE(has("out.js")) << name;
  }
}

// A markup comment is accepted only in the .jsx dialect, so it tells the two apart.
TEST_F(Cli, ExtensionChoosesDialect) {
  const std::string source = "<!-- c -->\nx;\n";
  put("a.js.jsx", source);
  ToolResult r = jsxc({"a.js.jsx", "out.js"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(get("out.js"), "/*** c **/\nx;\n\n");

  put("a.jsx.js", source);
  r = jsxc({"a.jsx.js", "out2.js"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "SyntaxError: Unexpected token\nline:1, pos:10, a.jsx.js\n");
  EXPECT_FALSE(has("out2.js"));
}

TEST_F(Cli, CleanCommentWord) {
  put("a.js", "a(); // note\nb(); /* x */\n");
  const std::string kept = "a(); // note\nb(); /* x */\n\n";
  const std::string cleaned = "a(); \nb(); \n\n";
  struct Row {
    std::vector<std::string> extra;
    std::string expected;
  };
  const Row rows[] = {
      {{}, kept},
      {{"--clean-comment"}, cleaned},
      {{"--clean"}, kept},                      // another word is ignored without a message
      {{"--CLEAN-COMMENT"}, kept},              // the word is compared exactly
      {{"--clean-comment", "extra"}, cleaned},  // words after the third are ignored
      {{"extra", "--clean-comment"}, kept},     // only the third word counts
  };
  for (const Row& row : rows) {
    std::vector<std::string> words = {"a.js", "out.js"};
    words.insert(words.end(), row.extra.begin(), row.extra.end());
    ToolResult r = jsxc(words);
    std::string label = row.extra.empty() ? "(none)" : row.extra[0];
    EXPECT_EQ(r.status, 0) << label;
    EXPECT_EQ(r.out, "") << label;
    EXPECT_EQ(get("out.js"), row.expected) << label;
  }
}

TEST_F(Cli, EmptySourceGivesOneLineFeed) {
  put("empty.js", "");
  put("empty.jsx", "");
  for (std::string name : {"empty.js", "empty.jsx"}) {
    ToolResult r = jsxc({name, "out.js"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(get("out.js"), "\n") << name;
  }
}

TEST_F(Cli, OutputIsReplacedWhole) {
  put("a.js", "x;");
  put("out.js", "a much longer text that was there before\n");
  ToolResult r = jsxc({"a.js", "out.js"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(get("out.js"), "x;\n");
}

TEST_F(Cli, SyntaxErrorLeavesOutputUntouched) {
  fs::create_directory(dir_ / "sub");
  put("sub/bad.js", "x;\nf(a));\n");
  put("out.js", "OLD");
  ToolResult r = jsxc({"sub/bad.js", "out.js"});
  EXPECT_EQ(r.status, 1);
  // The message names the source exactly as typed.
  EXPECT_EQ(r.out, "SyntaxError: Unexpected token\nline:2, pos:8, sub/bad.js\n");
  EXPECT_EQ(get("out.js"), "OLD");

  r = jsxc({"sub/bad.js", "new.js"});
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(has("new.js"));
}

TEST_F(Cli, OutputToStandardOutput) {
  put("in.js", "var a = 1; // c\n");
  ToolResult r = jsxc({"in.js", "/dev/stdout"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "var a = 1; // c\n\n");
}

TEST_F(Cli, OutputIntoMissingFolder) {
  put("a.js", "x;\n");
  ToolResult r = jsxc({"a.js", "nodir/out.js"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("nodir/out.js"), std::string::npos) << r.out;
  EXPECT_FALSE(has("nodir"));
}

TEST_F(Cli, FolderAsOutputPath) {
  put("a.js", "x;\n");
  fs::create_directory(dir_ / "outdir");
  ToolResult r = jsxc({"a.js", "outdir"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("outdir"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::is_directory(dir_ / "outdir"));
  EXPECT_TRUE(fs::is_empty(dir_ / "outdir"));
}

// A source that exists but cannot be read. (A file without read permission would do as
// well, but the tests may run as root, who reads it anyway.)
TEST_F(Cli, FolderAsSource) {
  fs::create_directory(dir_ / "src.js");
  ToolResult r = jsxc({"src.js", "out.js"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("src.js"), std::string::npos) << r.out;
  EXPECT_FALSE(has("out.js"));
}

TEST_F(Cli, AbsolutePaths) {
  put("a.js", "f(x)\n");
  std::string src = (dir_ / "a.js").string();
  std::string out = (dir_ / "b.js").string();
  ToolResult r = run_tool({JSXC_BIN, src, out}, "");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(get("b.js"), "f(x)\n\n");
}

}  // namespace
}  // namespace test
}  // namespace nubrix
