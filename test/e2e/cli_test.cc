// The command line of the built jsxc: argument checks, dialect choice by extension,
// the --clean-comment word, exit statuses, and what happens to the output file when a
// compile or a file operation fails. Then project builds (`jsxc SRC_DIR OUT_DIR`):
// failures that stay with their file, incremental builds over the manifest, and watch
// mode.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
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

TEST_F(Cli, CleanCommentWordAndOptionOrder) {
  put("a.js", "a(); // note\nb(); /* x */\n");
  const std::string kept = "a(); // note\nb(); /* x */\n\n";
  const std::string cleaned = "a(); \nb(); \n\n";
  struct Row {
    std::vector<std::string> extra;
    int status;
    std::string expected;  // the output file, or the message when the status is 1
  };
  const Row rows[] = {
      {{}, 0, kept},
      {{"--clean-comment"}, 0, cleaned},
      {{"--clean-comment", "--clean-comment"}, 0, cleaned},
      {{"--jsx", "--clean-comment"}, 0, cleaned},  // options come in any order
      {{"--clean-comment", "--jsx"}, 0, cleaned},
      // An unknown word is refused instead of being ignored.
      {{"--clean"}, 1, "Bad argument.\n"},
      {{"--CLEAN-COMMENT"}, 1, "Bad argument.\n"},  // the word is compared exactly
      {{"--clean-comment", "extra"}, 1, "Bad argument.\n"},
      {{"extra", "--clean-comment"}, 1, "Bad argument.\n"},
      {{"--watch"}, 1, "Bad argument.\n"},  // folder builds only
      {{"-"}, 1, "Bad argument.\n"},
  };
  for (const Row& row : rows) {
    std::vector<std::string> words = {"a.js", "out.js"};
    words.insert(words.end(), row.extra.begin(), row.extra.end());
    fs::remove(dir_ / "out.js");
    ToolResult r = jsxc(words);
    std::string label = row.extra.empty() ? "(none)" : row.extra[0];
    EXPECT_EQ(r.status, row.status) << label;
    if (row.status == 0) {
      EXPECT_EQ(r.out, "") << label;
      EXPECT_EQ(get("out.js"), row.expected) << label;
    } else {
      EXPECT_EQ(r.out, row.expected) << label;
      EXPECT_FALSE(has("out.js")) << label;
    }
  }
}

// --help and --version answer on standard output with status 0, wherever they stand.
TEST_F(Cli, HelpAndVersion) {
  for (const auto& words : std::vector<std::vector<std::string>>{
           {"--help"}, {"-h"}, {"a.js", "out.js", "--help"}, {"missing.js", "-h"}}) {
    ToolResult r = jsxc(words);
    EXPECT_EQ(r.status, 0) << words[0];
    EXPECT_EQ(r.out.rfind("Usage: jsxc SRC OUT [options]\n", 0), 0u) << r.out;
    for (const char* option : {"--clean-comment", "--jsx", "--watch", "-h, --help", "--version"}) {
      EXPECT_NE(r.out.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(r.err, "");
  }
  ToolResult r = jsxc({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "jsxc " JSXC_VERSION "\n");
  for (const auto& words :
       std::vector<std::vector<std::string>>{{"--versions"}, {"-help"}, {"--"}, {"-v"}}) {
    r = jsxc(words);
    EXPECT_EQ(r.status, 1) << words[0];
    EXPECT_EQ(r.out, "Bad argument.\n") << words[0];
  }
}

// "-" as SRC reads standard input (the .js dialect unless --jsx), "-" as OUT writes
// standard output; messages name the source <stdin>.
TEST_F(Cli, StandardStreams) {
  put("in.txt", "<!-- c -->\nx;\n");
  std::string input = (dir_ / "in.txt").string();
  auto run = [&](const std::vector<std::string>& words) {
    std::vector<std::string> argv = {JSXC_BIN};
    argv.insert(argv.end(), words.begin(), words.end());
    return run_tool(argv, dir_.path().string(), 60, input);
  };
  ToolResult r = run({"-", "-", "--jsx"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "/*** c **/\nx;\n\n");
  EXPECT_FALSE(has("-"));

  r = run({"-", "out.js", "--jsx"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(get("out.js"), "/*** c **/\nx;\n\n");

  // Without --jsx the markup comment is an error. Standard output holds the message
  // and nothing else.
  r = run({"-", "-"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "SyntaxError: Unexpected token\nline:1, pos:10, <stdin>\n");
  EXPECT_EQ(r.err.rfind("<stdin>:1:1: error: SyntaxError: Unexpected token\n", 0), 0u) << r.err;

  // A file source to standard output; a failure there writes no partial output.
  put("a.js", "var a = 1;\n");
  put("bad.js", "var a = 1;\nf(a));\n");
  r = jsxc({"a.js", "-"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "var a = 1;\n\n");
  r = jsxc({"bad.js", "-"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "SyntaxError: Unexpected token\nline:2, pos:16, bad.js\n");
  EXPECT_FALSE(has("-"));

  // An empty standard input is an empty module.
  r = jsxc({"-", "-"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\n");
}

// Standard error repeats a syntax error as file:line:column with the source line and a
// caret; the message on standard output stays as it was.
TEST_F(Cli, ErrorsShowThePlace) {
  struct Row {
    const char* name;
    const char* line_pos;  // the second line of the message on standard output
    const char* source;
    const char* err;
  };
  const Row rows[] = {
      {"a.js", "line:2, pos:9", "x;\n\tf(a));\n",
       "a.js:2:6: error: SyntaxError: Unexpected token\n\tf(a));\n\t    ^\n"},
      // The column counts characters: a surrogate pair and a two-byte letter are one each.
      {"b.js", "line:1, pos:11", "s = '\xF0\x9F\x98\x80\xC3\xA9' )\n",
       "b.js:1:10: error: SyntaxError: Unexpected token\ns = '\xF0\x9F\x98\x80\xC3\xA9' )\n        "
       " ^\n"},
      {"c.js", "line:1, pos:2", "\xEF\xBB\xBF)\n",
       "c.js:1:1: error: SyntaxError: Unexpected token\n)\n^\n"},
      {"d.jsx", "line:2, pos:5", "x;\r\n)\r\n",
       "d.jsx:2:1: error: SyntaxError: Unexpected token\n)\n^\n"},
      {"e.js", "line:1, pos:2", "f(", "e.js:1:3: error: SyntaxError: Unexpected token\nf(\n  ^\n"},
      // The forms the dialect refuses on purpose are named.
      {"f.jsx", "line:2, pos:22", "class A {\n  static x = 1;\n}\n",
       "f.jsx:2:12: error: SyntaxError: Unexpected token\n  static x = 1;\n           ^\n"
       "note: a static field is not supported; assign it after the class.\n"},
      {"g.jsx", "line:2, pos:13", "class A {\n  #x = 1;\n}\n",
       "g.jsx:2:3: error: SyntaxError: Unexpected token\n  #x = 1;\n  ^\n"
       "note: a private name (#x) is not supported.\n"},
      {"h.jsx", "line:1, pos:18", "class A { static { f(); } }\n",
       "h.jsx:1:18: error: SyntaxError: Unexpected token\nclass A { static { f(); } }\n"
       "                 ^\nnote: a static block is not supported.\n"},
      {"i.jsx", "line:1, pos:11", "class A { @d m() {} }\n",
       "i.jsx:1:11: error: SyntaxError: Unexpected token\nclass A { @d m() {} }\n          ^\n"
       "note: a decorator is not supported.\n"},
      {"j.jsx", "line:1, pos:11", "class A { y; }\n",
       "j.jsx:1:11: error: SyntaxError: Unexpected token\nclass A { y; }\n          ^\n"
       "note: a field needs an initialiser (name = value;).\n"},
      {"k.jsx", "line:1, pos:13", "x = class { a = 1; };\n",
       "k.jsx:1:13: error: SyntaxError: Unexpected token\nx = class { a = 1; };\n            ^\n"
       "note: a field is supported only in a named top-level class, not in an anonymous or "
       "nested one.\n"},
      {"l.jsx", "line:1, pos:26", "function f() { class B { a = 1; } }\n",
       "l.jsx:1:26: error: SyntaxError: Unexpected token\nfunction f() { class B { a = 1; } }\n"
       "                         ^\nnote: a field is supported only in a named top-level class, "
       "not in an anonymous or nested one.\n"},
  };
  for (const Row& row : rows) {
    put(row.name, row.source);
    ToolResult r = jsxc({row.name, "out.js"});
    EXPECT_EQ(r.status, 1) << row.name;
    EXPECT_EQ(r.out, std::string("SyntaxError: Unexpected token\n") + row.line_pos + ", " +
                         row.name + "\n");
    // No colour: standard error is a pipe here.
    EXPECT_EQ(r.err, row.err) << row.name;
    EXPECT_FALSE(has("out.js"));
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

// --sourcemap writes OUT.map beside OUT and links it after the trailer;
// --sourcemap=inline puts the same map into OUT as a data URL.
TEST_F(Cli, SourceMaps) {
  fs::create_directory(dir_ / "src");
  fs::create_directory(dir_ / "out");
  put("src/a.js", "import b from \"b\";\nlet x = \"\\u00e9\\n\";\n");
  ToolResult r = jsxc({"src/a.js", "out/a.js", "--sourcemap"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(get("out/a.js"),
            "const b= require(\"b\").default;\nlet x = \"\\u00e9\\n\";\n\n"
            "//# sourceMappingURL=a.js.map\n");
  // Line 1: import->const, b, from->"=", the string both where the require call starts
  // and where it is copied, the ";"; line 2 is copied, so its columns stay.
  const std::string map =
      "{\"version\":3,\"file\":\"a.js\",\"sources\":[\"../src/a.js\"],"
      "\"sourcesContent\":[\"import b from \\\"b\\\";\\nlet x = \\\"\\\\u00e9\\\\n\\\";\\n\"],"
      "\"names\":[],\"mappings\":\"AAAA,MAAO,CAAE,EAAK,QAAA,YAAG;AACjB,IAAI,EAAE,EAAE,UAAU\"}\n";
  EXPECT_EQ(get("out/a.js.map"), map);

  // Options in another order, the map beside an output in the same folder.
  r = jsxc({"src/a.js", "src/b.js", "--sourcemap", "--clean-comment"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(get("src/b.js.map").find("\"sources\":[\"a.js\"]"), std::string::npos);

  r = jsxc({"src/a.js", "-", "--sourcemap=inline"});
  EXPECT_EQ(r.status, 0) << r.out;
  const std::string prefix = "//# sourceMappingURL=data:application/json;charset=utf-8;base64,";
  size_t at = r.out.find(prefix);
  ASSERT_NE(at, std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(0, at), "const b= require(\"b\").default;\nlet x = \"\\u00e9\\n\";\n\n");
  EXPECT_EQ(r.out.back(), '\n');
  std::string base64 = r.out.substr(at + prefix.size(), r.out.size() - at - prefix.size() - 1);
  std::string decoded;
  uint32_t bits = 0;
  int count = 0;
  for (char c : base64) {
    if (c == '=') break;
    const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    bits = (bits << 6) | (uint32_t)(strchr(digits, c) - digits);
    if ((count += 6) >= 8) decoded += (char)((bits >> (count -= 8)) & 0xFF);
  }
  // Written to standard output, the map names no file and its source from here.
  std::string inline_map = map;
  inline_map.replace(inline_map.find("\"a.js\""), 6, "\"\"");
  inline_map.replace(inline_map.find("../src/a.js"), 11, "src/a.js");
  EXPECT_EQ(decoded, inline_map);

  // An external map needs an output file; a failed compile writes neither file.
  r = jsxc({"src/a.js", "-", "--sourcemap"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Bad argument. --sourcemap needs an output file; use --sourcemap=inline\n");
  put("src/bad.js", "f(a));\n");
  r = jsxc({"src/bad.js", "out/bad.js", "--sourcemap"});
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(has("out/bad.js"));
  EXPECT_FALSE(has("out/bad.js.map"));
  for (const char* word : {"--sourcemap=", "--sourcemap=external", "--source-map"}) {
    r = jsxc({"src/a.js", "out/c.js", word});
    EXPECT_EQ(r.out, "Bad argument.\n") << word;
    EXPECT_FALSE(has("out/c.js")) << word;
  }
}

// ---- project builds ---------------------------------------------------------------------

// The summary line without its time, so that it can be compared exactly.
std::string without_time(const std::string& out) {
  return std::regex_replace(out, std::regex(" in [0-9]+ ms\n"), "\n");
}

class Project : public Cli {
 protected:
  // Writes a source and dates it an hour back, so that its record is trusted at once
  // (a source changed within the last seconds is always compiled again).
  void source(const std::string& name, const std::string& text) {
    fs::create_directories((dir_ / name).parent_path());
    put(name, text);
    age(name);
  }
  void age(const std::string& name) {
    fs::last_write_time(dir_ / name, fs::file_time_type::clock::now() - std::chrono::hours(1));
  }
  fs::file_time_type mtime(const std::string& name) { return fs::last_write_time(dir_ / name); }
  // Runs a project build and returns its standard output without the time.
  std::string build(const std::vector<std::string>& words, int status) {
    ToolResult r = jsxc(words);
    EXPECT_EQ(r.status, status) << r.out;
    EXPECT_EQ(r.err, "");
    return without_time(r.out);
  }
};

// Every output of a folder build gets its own map, each as the single-file build
// writes it; a changed option compiles everything again.
TEST_F(Project, SourceMapPerOutput) {
  source("src/a.js", "f(x);\n");
  source("src/sub/b.js", "g(y);\n");
  EXPECT_EQ(build({"src", "out", "--sourcemap"}, 0), "jsxc: 2 compiled, 0 unchanged, 0 failed\n");
  EXPECT_EQ(get("out/a.js"), "f(x);\n\n//# sourceMappingURL=a.js.map\n");
  EXPECT_EQ(get("out/sub/b.js.map"),
            "{\"version\":3,\"file\":\"b.js\",\"sources\":[\"../../src/sub/b.js\"],"
            "\"sourcesContent\":[\"g(y);\\n\"],\"names\":[],\"mappings\":\"AAAA,CAAC,CAAC,CAAC,"
            "CAAC\"}\n");
  ToolResult single = jsxc({"src/sub/b.js", "b.js", "--sourcemap"});
  EXPECT_EQ(single.status, 0);
  EXPECT_EQ(get("b.js.map"),
            std::regex_replace(get("out/sub/b.js.map"), std::regex("\\.\\./\\.\\./"), ""));
  EXPECT_EQ(build({"src", "out", "--sourcemap"}, 0), "jsxc: 0 compiled, 2 unchanged, 0 failed\n");
  EXPECT_EQ(build({"src", "out", "--sourcemap=inline"}, 0),
            "jsxc: 2 compiled, 0 unchanged, 0 failed\n");
  EXPECT_NE(get("out/a.js").find("\n//# sourceMappingURL=data:application/json;"),
            std::string::npos);
}

TEST_F(Project, ArgumentsAndFolders) {
  source("src/a.js", "a;\n");
  source("src/sub/b.jsx", "var v = <div/>;\n");
  put("file", "");
  fs::create_directory(dir_ / "empty");
  struct Row {
    std::vector<std::string> words;
    std::string out;
  };
  const Row refused[] = {
      {{"src", "src"}, "Bad argument. the output folder src is the source folder src\n"},
      {{"src", "./sub/../src/"},
       "Bad argument. the output folder ./sub/../src/ is the source folder src\n"},
      {{"src", "file"}, "Bad argument. file is not a folder\n"},
      {{"src", "out", "--clean"}, "Bad argument. unknown option --clean\n"},
      {{"src", "out", "--watch", "x"}, "Bad argument. unknown option x\n"},
      {{"empty", "out"}, "No .js or .jsx file found in empty\n"},
  };
  for (const Row& row : refused) {
    EXPECT_EQ(build(row.words, 1), row.out) << row.words[1];
    EXPECT_FALSE(has("out")) << row.words[1];
  }

  // OUT is made with its parents; other files are left alone.
  put("src/notes.txt", "n");
  EXPECT_EQ(build({"src", "deep/er/out"}, 0), "jsxc: 2 compiled, 0 unchanged, 0 failed\n");
  EXPECT_EQ(get("deep/er/out/a.js"), "a;\n\n");
  EXPECT_EQ(get("deep/er/out/sub/b.jsx"), "var v = {vx:0,v:[div,[],[]]};\n\n");
  EXPECT_FALSE(has("deep/er/out/notes.txt"));

  // An OUT inside SRC is left out of the walk, so `jsxc . out` compiles only the sources.
  ToolResult r = run_tool({JSXC_BIN, ".", "out"}, (dir_ / "src").string());
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(without_time(r.out), "jsxc: 2 compiled, 0 unchanged, 0 failed\n");
  r = run_tool({JSXC_BIN, ".", "out"}, (dir_ / "src").string());
  EXPECT_EQ(without_time(r.out), "jsxc: 0 compiled, 2 unchanged, 0 failed\n");
  EXPECT_FALSE(has("src/out/out"));

  // With SRC inside OUT, an output that would land inside SRC is refused.
  fs::remove_all(dir_ / "src/out");
  source("src/src/c.js", "c;\n");
  r = run_tool({JSXC_BIN, "src", "."}, dir_.path().string());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(without_time(r.out),
            "Cannot write ./src/c.js: it lies inside the source folder src\n"
            "jsxc: 2 compiled, 0 unchanged, 1 failed\n");
  EXPECT_FALSE(has("src/c.js"));
  EXPECT_EQ(get("a.js"), "a;\n\n");
}

// A file that fails fails alone: its single-file message, its old output untouched,
// every other file written, exit status 1.
TEST_F(Project, FailuresStayWithTheirFile) {
  source("src/a.js", "a;\n");
  source("src/b.js", "b;\n");
  source("src/c/d.js", "d;\n");
  source("src/e.js", "e;\n");
  EXPECT_EQ(build({"src", "out"}, 0), "jsxc: 4 compiled, 0 unchanged, 0 failed\n");

  source("src/a.js", "a2;\n");
  source("src/b.js", "x;\nf(a));\n");  // a syntax error: out/b.js keeps the old output
  fs::remove(dir_ / "out/c/d.js");
  fs::create_directory(dir_ / "out/c/d.js");  // the output cannot be written
  source("src/e.js", "e2;\n");
  // Larger than a source may be (a sparse file, so it costs no space).
  put("src/big.js", "");
  fs::resize_file(dir_ / "src/big.js", (1ull << 30) + 1);
  std::string out = build({"src", "out"}, 1);
  EXPECT_EQ(out,
            "SyntaxError: Unexpected token\nline:2, pos:8, src/b.js\n"
            "Cannot read src/big.js: the file is larger than 1073741824 bytes\n"
            "Cannot write out/c/d.js: EISDIR, illegal operation on a directory, out/c/d.js\n"
            "jsxc: 2 compiled, 0 unchanged, 3 failed\n");
  EXPECT_EQ(get("out/a.js"), "a2;\n\n");
  EXPECT_EQ(get("out/b.js"), "b;\n\n");
  EXPECT_TRUE(fs::is_directory(dir_ / "out/c/d.js"));
  EXPECT_FALSE(has("out/big.js"));
  EXPECT_EQ(get("out/e.js"), "e2;\n\n");
  // No temporary file is left behind.
  for (const auto& e : fs::recursive_directory_iterator(dir_ / "out")) {
    EXPECT_EQ(e.path().string().find(".tmp"), std::string::npos) << e.path();
  }

  // Failed files are tried again on the next build; the others are up to date.
  EXPECT_EQ(build({"src", "out"}, 1),
            "SyntaxError: Unexpected token\nline:2, pos:8, src/b.js\n"
            "Cannot read src/big.js: the file is larger than 1073741824 bytes\n"
            "Cannot write out/c/d.js: EISDIR, illegal operation on a directory, out/c/d.js\n"
            "jsxc: 0 compiled, 2 unchanged, 3 failed\n");
  source("src/b.js", "b3;\n");
  fs::remove(dir_ / "src/big.js");
  fs::remove(dir_ / "out/c/d.js");
  EXPECT_EQ(build({"src", "out"}, 0), "jsxc: 2 compiled, 2 unchanged, 0 failed\n");
  EXPECT_EQ(get("out/b.js"), "b3;\n\n");
  EXPECT_EQ(get("out/c/d.js"), "d;\n\n");
}

// What makes a file compile again, and what does not.
TEST_F(Project, IncrementalBuilds) {
  source("src/a.js", "a; // note\n");
  source("src/b.js", "b;\n");
  source("src/sub/c.jsx", "var v = <p/>;\n");
  EXPECT_EQ(build({"src", "out"}, 0), "jsxc: 3 compiled, 0 unchanged, 0 failed\n");
  auto a_time = mtime("out/a.js");
  auto b_time = mtime("out/b.js");
  auto c_time = mtime("out/sub/c.jsx");
  std::string manifest = get("out/.jsxc-manifest");

  // Nothing changed: nothing is rewritten, not even the manifest.
  EXPECT_EQ(build({"src", "out"}, 0), "jsxc: 0 compiled, 3 unchanged, 0 failed\n");
  EXPECT_EQ(mtime("out/a.js"), a_time);
  EXPECT_EQ(mtime("out/b.js"), b_time);
  EXPECT_EQ(mtime("out/sub/c.jsx"), c_time);
  EXPECT_EQ(get("out/.jsxc-manifest"), manifest);

  // One source changed: that output only.
  source("src/b.js", "b2;\n");
  EXPECT_EQ(build({"src", "out"}, 0), "jsxc: 1 compiled, 2 unchanged, 0 failed\n");
  EXPECT_EQ(get("out/b.js"), "b2;\n\n");
  EXPECT_EQ(mtime("out/a.js"), a_time);
  EXPECT_EQ(mtime("out/sub/c.jsx"), c_time);

  // A source touched without a change compiles to the same bytes: nothing is rewritten.
  fs::last_write_time(dir_ / "src/a.js", fs::file_time_type::clock::now());
  EXPECT_EQ(build({"src", "out"}, 0), "jsxc: 0 compiled, 3 unchanged, 0 failed\n");
  EXPECT_EQ(mtime("out/a.js"), a_time);
  age("src/a.js");

  // Changed options: every file compiles again; only a.js has a comment to clean.
  EXPECT_EQ(build({"src", "out", "--clean-comment"}, 0),
            "jsxc: 1 compiled, 2 unchanged, 0 failed\n");
  EXPECT_EQ(get("out/a.js"), "a; \n\n");
  EXPECT_EQ(build({"src", "out", "--clean-comment"}, 0),
            "jsxc: 0 compiled, 3 unchanged, 0 failed\n");
  EXPECT_EQ(build({"src", "out"}, 0), "jsxc: 1 compiled, 2 unchanged, 0 failed\n");
  EXPECT_EQ(get("out/a.js"), "a; // note\n\n");

  // A change that keeps the size and the time is not seen while the record is trusted
  // (as with make)...
  auto stamp = mtime("src/b.js");
  put("src/b.js", "b3;\n");
  fs::last_write_time(dir_ / "src/b.js", stamp);
  EXPECT_EQ(build({"src", "out"}, 0), "jsxc: 0 compiled, 3 unchanged, 0 failed\n");
  EXPECT_EQ(get("out/b.js"), "b2;\n\n");
  // ...but another compiler trusts no record of this one...
  fs::copy_file(JSXC_BIN, dir_ / "jsxc-other");
  fs::permissions(dir_ / "jsxc-other", fs::perms::owner_all, fs::perm_options::add);
  ToolResult r = run_tool({(dir_ / "jsxc-other").string(), "src", "out"}, dir_.path().string());
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(without_time(r.out), "jsxc: 1 compiled, 2 unchanged, 0 failed\n");
  EXPECT_EQ(get("out/b.js"), "b3;\n\n");
  EXPECT_EQ(build({"src", "out"}, 0), "jsxc: 0 compiled, 3 unchanged, 0 failed\n");

  // ...and a damaged manifest means a full build, never a wrong one.
  put("src/b.js", "b4;\n");
  fs::last_write_time(dir_ / "src/b.js", stamp);
  std::string good = get("out/.jsxc-manifest");
  const std::string damaged[] = {
      "",                                                  // empty
      good.substr(0, good.size() / 2),                     // cut short
      good + "x 1 2 3 4 5 6 7\n",                          // a line after the end
      std::regex_replace(good, std::regex(" 4 "), " 5 "),  // a field changed
      "garbage\n",
  };
  int round = 0;
  for (const std::string& text : damaged) {
    put("out/.jsxc-manifest", text);
    EXPECT_EQ(build({"src", "out"}, 0),
              "jsxc: the manifest out/.jsxc-manifest is damaged; building every file\n"
              "jsxc: " +
                  std::string(round == 0 ? "1" : "0") + " compiled, " +
                  std::string(round == 0 ? "2" : "3") + " unchanged, 0 failed\n")
        << round;
    EXPECT_EQ(get("out/b.js"), "b4;\n\n") << round;
    round++;
  }
  EXPECT_EQ(build({"src", "out"}, 0), "jsxc: 0 compiled, 3 unchanged, 0 failed\n");
}

// The output of a deleted source goes, but only where the compiler wrote it and nobody
// changed it since.
TEST_F(Project, DeletedSources) {
  source("src/a.js", "a;\n");
  source("src/b.js", "b;\n");
  source("src/c.js", "c;\n");
  source("src/sub/d.js", "d;\n");
  fs::create_directory(dir_ / "out");
  put("out/mine.js", "not the compiler's\n");
  EXPECT_EQ(build({"src", "out"}, 0), "jsxc: 4 compiled, 0 unchanged, 0 failed\n");

  fs::remove(dir_ / "src/a.js");
  fs::remove(dir_ / "src/b.js");
  put("out/b.js", "edited by hand\n");  // no longer as the compiler wrote it
  fs::remove_all(dir_ / "src/sub");
  EXPECT_EQ(build({"src", "out"}, 0), "jsxc: 0 compiled, 1 unchanged, 0 failed, 2 removed\n");
  EXPECT_FALSE(has("out/a.js"));
  EXPECT_EQ(get("out/b.js"), "edited by hand\n");
  EXPECT_FALSE(has("out/sub/d.js"));
  EXPECT_EQ(get("out/mine.js"), "not the compiler's\n");
  EXPECT_EQ(get("out/c.js"), "c;\n\n");

  // A source that comes back compiles again, over the file that is in the way only when
  // the bytes differ; a file that was never the compiler's is never removed.
  source("src/b.js", "b;\n");
  EXPECT_EQ(build({"src", "out"}, 0), "jsxc: 1 compiled, 1 unchanged, 0 failed\n");
  EXPECT_EQ(get("out/b.js"), "b;\n\n");
  fs::remove(dir_ / "src/b.js");
  fs::remove(dir_ / "src/c.js");
  put("src/keep.txt", "");
  EXPECT_EQ(build({"src", "out"}, 0), "jsxc: 0 compiled, 0 unchanged, 0 failed, 2 removed\n");
  EXPECT_EQ(get("out/mine.js"), "not the compiler's\n");
  EXPECT_TRUE(has("out/.jsxc-manifest"));
}

// jsxc --watch in the background, its standard output read as it comes.
class Watch : public Project {
 protected:
  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_fd_ >= 0) close(out_fd_);
  }
  void start(const std::vector<std::string>& words) {
    std::vector<std::string> argv = {JSXC_BIN};
    argv.insert(argv.end(), words.begin(), words.end());
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string cwd = dir_.path().string();
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 1);
      close(fds[0]);
      close(fds[1]);
      if (chdir(cwd.c_str()) != 0) _exit(126);
      alarm(120);
      execv(args[0], args.data());
      _exit(127);
    }
    close(fds[1]);
    out_fd_ = fds[0];
    ASSERT_GT(pid_, 0);
  }
  // Reads until the output holds `count` lines matching `pattern` in all; false after
  // the time limit.
  bool wait_for_lines(const std::string& pattern, int count) {
    std::regex re(pattern);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
      int seen = 0;
      for (const std::string& line : split_lines(out_)) {
        if (std::regex_search(line, re)) seen++;
      }
      if (seen >= count) return true;
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      struct pollfd p = {out_fd_, POLLIN, 0};
      if (poll(&p, 1, (int)left.count()) > 0) {
        char buf[4096];
        ssize_t n = read(out_fd_, buf, sizeof buf);
        if (n <= 0) return false;
        out_.append(buf, (size_t)n);
      }
    }
  }
  // Sends the signal and returns the exit status (-1 when killed by a signal).
  int stop(int sig) {
    kill(pid_, sig);
    char buf[4096];
    ssize_t n;
    while ((n = read(out_fd_, buf, sizeof buf)) > 0) out_.append(buf, (size_t)n);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  pid_t pid_ = -1;
  int out_fd_ = -1;
  std::string out_;
};

TEST_F(Watch, EditNewFolderDeletionAndSigint) {
  source("src/a.js", "a;\n");
  source("src/b.js", "b;\n");
  start({"src", "out", "--watch"});
  ASSERT_TRUE(wait_for_lines("^jsxc: watching src for changes\n", 1)) << out_;
  EXPECT_EQ(without_time(out_),
            "jsxc: 2 compiled, 0 unchanged, 0 failed\njsxc: watching src for changes\n");

  // An edit: one rebuild, one line.
  put("src/a.js", "a2;\n");
  ASSERT_TRUE(wait_for_lines("^jsxc: 1 compiled, 1 unchanged, 0 failed", 1)) << out_;
  EXPECT_EQ(get("out/a.js"), "a2;\n\n");

  // A new folder with a file: the folder is watched from then on.
  fs::create_directory(dir_ / "src/new");
  put("src/new/c.js", "c;\n");
  ASSERT_TRUE(wait_for_lines("^jsxc: 1 compiled, 2 unchanged, 0 failed", 1)) << out_;
  EXPECT_EQ(get("out/new/c.js"), "c;\n\n");
  put("src/new/c.js", "c2;\n");
  ASSERT_TRUE(wait_for_lines("^jsxc: 1 compiled, 2 unchanged, 0 failed", 2)) << out_;
  EXPECT_EQ(get("out/new/c.js"), "c2;\n\n");

  // An error is printed and watching goes on.
  put("src/b.js", "f(a));\n");
  ASSERT_TRUE(wait_for_lines("^line:1, pos:5, src/b.js\n", 1)) << out_;
  EXPECT_EQ(get("out/b.js"), "b;\n\n");
  put("src/b.js", "b2;\n");
  ASSERT_TRUE(wait_for_lines("^jsxc: 1 compiled, 2 unchanged, 0 failed", 3)) << out_;
  EXPECT_EQ(get("out/b.js"), "b2;\n\n");

  // A deletion removes the output.
  fs::remove(dir_ / "src/a.js");
  ASSERT_TRUE(wait_for_lines("^jsxc: 0 compiled, 2 unchanged, 0 failed, 1 removed", 1)) << out_;
  EXPECT_FALSE(has("out/a.js"));

  EXPECT_EQ(stop(SIGINT), 0) << out_;
  // Every rebuild printed one summary line (and the error its message).
  EXPECT_EQ(
      std::regex_replace(without_time(out_), std::regex("jsxc: watching src for changes\n"), ""),
      "jsxc: 2 compiled, 0 unchanged, 0 failed\n"
      "jsxc: 1 compiled, 1 unchanged, 0 failed\n"
      "jsxc: 1 compiled, 2 unchanged, 0 failed\n"
      "jsxc: 1 compiled, 2 unchanged, 0 failed\n"
      "SyntaxError: Unexpected token\nline:1, pos:5, src/b.js\n"
      "jsxc: 0 compiled, 2 unchanged, 1 failed\n"
      "jsxc: 1 compiled, 2 unchanged, 0 failed\n"
      "jsxc: 0 compiled, 2 unchanged, 0 failed, 1 removed\n");
}

TEST_F(Watch, SigtermEndsItAndAFailedFirstBuildStillWatches) {
  source("src/a.js", "f(a));\n");
  start({"src", "out", "--watch"});
  ASSERT_TRUE(wait_for_lines("^jsxc: watching src for changes\n", 1)) << out_;
  put("src/a.js", "a;\n");
  ASSERT_TRUE(wait_for_lines("^jsxc: 1 compiled, 0 unchanged, 0 failed", 1)) << out_;
  EXPECT_EQ(stop(SIGTERM), 0) << out_;
  EXPECT_EQ(get("out/a.js"), "a;\n\n");
}

}  // namespace
}  // namespace test
}  // namespace nubrix
