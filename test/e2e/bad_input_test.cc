// Malformed and extreme sources fed to the built jsxc. Whatever the input, the program
// must end in one of two ways: exit 0 with a complete output file (valid UTF-8, every
// source line feed kept plus the trailer's, nothing printed), or exit 1 with a message
// and the output file exactly as it was before. A signal, a hang (20 s), any other
// status or a touched output file on failure is a fault.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "support/run_tool.h"
#include "test/support/utf8_check.h"

namespace fs = std::filesystem;

namespace nubrix {
namespace test {
namespace {

constexpr unsigned kTimeoutSeconds = 20;
const char kSentinel[] = "previous output, must survive a failed compile\n";

long first_invalid_utf8(const std::string& s) {
  return nubrix_test::first_invalid_utf8((const unsigned char*)s.data(), s.size());
}

std::string repeat(const std::string& piece, size_t count) {
  std::string s;
  s.reserve(piece.size() * count);
  for (size_t i = 0; i < count; i++) s += piece;
  return s;
}

std::string shown(const std::string& source) {
  if (source.size() <= 80) return "\"" + visible(source) + "\"";
  return "\"" + visible(source.substr(0, 60)) + "...\" (" + std::to_string(source.size()) +
         " bytes)";
}

class BadInput : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.ok()); }

  // Compiles `source` as src<ext> over an existing output file and checks that the run
  // ends soundly. With `check_no_create`, a failing source is compiled once more with no
  // output file present, which must then still be absent. Returns the exit status
  // (-1 when the run was unsound).
  int compile(const std::string& source, const std::string& ext, bool clean_comment = false,
              bool check_no_create = true) {
    SCOPED_TRACE("source " + shown(source) + " as " + ext +
                 (clean_comment ? " --clean-comment" : ""));
    fs::path src = dir_ / ("src" + ext);
    fs::path out = dir_ / "out.js";
    EXPECT_TRUE(write_whole_file(src, source));
    EXPECT_TRUE(write_whole_file(out, kSentinel));
    std::vector<std::string> argv = {JSXC_BIN, src.string(), out.string()};
    if (clean_comment) argv.push_back("--clean-comment");

    ToolResult r = run_tool(argv, dir_.path().string(), kTimeoutSeconds);
    if (r.signal != 0) {
      fs::remove(src);
      ADD_FAILURE() << "killed by signal " << r.signal
                    << (r.signal == SIGALRM ? " (timed out)" : "") << "; stdout:\n"
                    << r.out.substr(0, 2000);
      return -1;
    }
    std::string written = read_whole_file(out);
    if (r.status == 0) {
      EXPECT_EQ(r.out, "") << "success printed something";
      long bad = first_invalid_utf8(written);
      EXPECT_EQ(bad, -1) << "output is not valid UTF-8 at byte " << bad;
      // Every line feed of the source stays, and the module trailer ends in one more.
      EXPECT_GE(count_line_feeds(written), count_line_feeds(source) + 1) << "output lost lines";
      EXPECT_NE(written, kSentinel) << "success left the old output";
    } else if (r.status == 1) {
      EXPECT_FALSE(r.out.empty()) << "failure without a message";
      EXPECT_EQ(r.out.back(), '\n') << "message not ended by a line feed";
      EXPECT_EQ(written, kSentinel) << "failure touched the output file";
      if (check_no_create) {
        fs::remove(out);
        ToolResult again = run_tool(argv, dir_.path().string(), kTimeoutSeconds);
        EXPECT_EQ(again.signal, 0);
        EXPECT_EQ(again.status, 1) << "second run of the same source differs";
        EXPECT_FALSE(fs::exists(out)) << "failure created an output file";
      }
    } else {
      fs::remove(src);
      ADD_FAILURE() << "exit status " << r.status << "; stdout:\n" << r.out.substr(0, 2000);
      return -1;
    }
    // A failed or finished write must leave no temporary file behind.
    for (const auto& entry : fs::directory_iterator(dir_.path())) {
      std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "src" + ext || name == "out.js") << "stray file " << name;
    }
    fs::remove(src);
    return r.status;
  }

  // Both dialects, with and without --clean-comment.
  void compile_all_ways(const std::string& source, bool check_no_create = true) {
    for (const char* ext : {".js", ".jsx"}) {
      for (bool clean : {false, true}) compile(source, ext, clean, check_no_create);
    }
  }

  TempDir dir_{"jsxc-bad"};
};

TEST_F(BadInput, RandomBytesOfManySizes) {
  std::mt19937 rng(20261208);
  for (size_t size : {0, 1, 2, 3, 5, 8, 13, 64, 257, 1000, 4096, 65536, 1 << 20}) {
    for (int round = 0; round < (size > 65536 ? 1 : 3); round++) {
      std::string s(size, '\0');
      for (char& c : s) c = (char)(rng() & 0xFF);
      compile(s, round % 2 ? ".jsx" : ".js", round == 2, size <= 4096);
    }
  }
}

// Random text over the characters that matter to the scanner, so that runs get past
// the first token and reach strings, templates, regular expressions and markup.
TEST_F(BadInput, RandomSourceLikeText) {
  static const char kAlphabet[] = "abcxyz_$019 \t\n\r'\"`\\/*{}()[]<>=!+-.,;:?%@#&|^~ ";
  static const char* const kWords[] = {
      "import ", "export ", "default ", "class ",       "event ", "extends ", "static ", "get ",
      "set ",    "from ",   "as ",      "${",           "%{",     "%%{",      "<div>",   "</div>",
      "<a/>",    "<!--",    "-->",      "/*",           "*/",     "//",       "return ", "if(",
      "=>",      "\\u00",   "\xC3\xA9", "\xF0\x9F\x98", "\xFF"};
  std::mt19937 rng(7);
  for (size_t size : {4, 16, 64, 256, 1024, 8192, 100000}) {
    for (int round = 0; round < 6; round++) {
      std::string s;
      while (s.size() < size) {
        if (rng() % 4 == 0) {
          s += kWords[rng() % (sizeof kWords / sizeof kWords[0])];
        } else {
          s += kAlphabet[rng() % (sizeof kAlphabet - 1)];
        }
      }
      compile(s, round % 2 ? ".jsx" : ".js", round % 3 == 2, size <= 1024);
    }
  }
}

TEST_F(BadInput, TruncatedUtf8) {
  // Every proper prefix of a 2-, 3- and 4-byte sequence, and lone continuation and
  // invalid lead bytes, at the end of code, a string, a comment, a template and text.
  std::vector<std::string> broken = {
      "\xC3", "\xE4", "\xE4\xB8", "\xF0",     "\xF0\x9F",     "\xF0\x9F\x98",    "\x80",
      "\xBF", "\xFE", "\xFF",     "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"};
  std::vector<std::pair<std::string, std::string>> contexts = {
      {"x = ", ""},   {"s = '", "'"}, {"// ", ""},         {"/* ", " */"},
      {"t = `", "`"}, {"r = /", "/"}, {"v = <p>", "</p>;"}};
  for (const auto& b : broken) {
    for (const auto& c : contexts) {
      // At the very end of the file, and closed with a line after it.
      compile(c.first + b, ".jsx");
      compile(c.first + b + c.second + "\ny;\n", ".js");
      compile(c.first + b + c.second + "\ny;\n", ".jsx", true);
    }
  }
}

// An unterminated string, template, comment, regular expression or bracket is always
// reported, whatever stands before it (an `import` included).
TEST_F(BadInput, UnterminatedFormsAreReported) {
  const std::vector<std::string> sources = {
      "'abc",      "\"abc",           "'abc\nx;\n",         "'abc\\",   "`abc",       "`abc\n\n",
      "`a${b",     "`a${b}c",         "`a${`b${c",          "/* abc",   "/* abc\n\n", "/*",
      "x = /abc",  "x = /abc\ny",     "x = /[abc/",         "x = /a\\", "import`",    "import`\n\n",
      "import'a",  "import\"a\n",     "import `a\n",        "f(",       "[",          "{",
      "class A {", "class A { x = 1", "class A { event onX"};
  for (const auto& s : sources) {
    for (const char* ext : {".js", ".jsx"}) {
      for (bool clean : {false, true}) {
        EXPECT_EQ(compile(s, ext, clean), 1) << "accepted " << shown(s) << " as " << ext;
      }
    }
  }
}

TEST_F(BadInput, UnterminatedMarkupIsReported) {
  const std::vector<std::string> sources = {
      "v = <div",        "v = <div>",         "v = <div>text", "v = <div a=\"b",
      "v = <div a=",     "v = <div a=%{x",    "v = <div>${x",  "v = <div>%%{",
      "v = <div><!-- x", "x = <a><b></a>;\n", "return <div/",  "v = <a>\n<b>\n</b>\n"};
  for (const auto& s : sources) {
    for (bool clean : {false, true}) {
      EXPECT_EQ(compile(s, ".jsx", clean), 1) << "accepted " << shown(s);
    }
  }
}

// Fragments that may be accepted or rejected; either way the run must end soundly.
TEST_F(BadInput, TruncatedConstructs) {
  const std::vector<std::string> sources = {"export ",
                                            "import ",
                                            "import",
                                            "class ",
                                            "a ? b :",
                                            "<",
                                            "</",
                                            "<!--",
                                            "x = <",
                                            "x = </",
                                            "#!",
                                            "#!/bin/sh",
                                            "\xEF\xBB\xBF",
                                            "\xEF\xBB",
                                            "\\",
                                            "\\u",
                                            "\\u00",
                                            "0x",
                                            "1e",
                                            "1e+",
                                            ".",
                                            "..",
                                            "@",
                                            "#",
                                            "%{",
                                            "%%{",
                                            "${",
                                            "}",
                                            ")",
                                            "]",
                                            "`${}`",
                                            "import * as",
                                            "import {a} from",
                                            "export default",
                                            "class A extends",
                                            "get",
                                            "event"};
  for (const auto& s : sources) compile_all_ways(s);
}

// Line breaks at odd places inside the module forms: each must stay, so that line N of
// the output still holds line N of the source.
TEST_F(BadInput, LineBreaksInsideImportsAndExportsAreKept) {
  const std::vector<std::string> sources = {"import View\nfrom 'view';\nx;\n",
                                            "import View\n,\n{Box}\nfrom\n'view';\nx;\n",
                                            "import\n*\nas\npath\nfrom\n'path';\nx;\n",
                                            "import\n{a,\nb}\nfrom\n'm';\nx;\n",
                                            "import\n'./a.js'\nas\nt;\nx;\n",
                                            "import\n'./list-item.view.jsx';\nx;\n",
                                            "export\nvar a = 1;\nexport\ndefault\nclass\nApp {}\n",
                                            "export\n{a,\nb};\n"};
  for (const auto& s : sources) {
    for (const char* ext : {".js", ".jsx"}) {
      EXPECT_EQ(compile(s, ext), 0) << "rejected " << shown(s);
    }
  }
}

TEST_F(BadInput, NulBytes) {
  std::string nul(1, '\0');
  const std::vector<std::string> sources = {nul,
                                            nul + nul + nul,
                                            "x = 1;" + nul + "\ny;\n",
                                            "s = '" + nul + "';\n",
                                            "t = `" + nul + "${" + nul + "}`;\n",
                                            "// " + nul + "\n/* " + nul + " */\n",
                                            "r = /" + nul + "/;\n",
                                            "v = <p a=\"" + nul + "\">" + nul + "</p>;\n",
                                            repeat(nul, 100000)};
  for (const auto& s : sources) compile_all_ways(s);
}

TEST_F(BadInput, TenMegabyteSingleLine) {
  const size_t size = 10u << 20;
  // Valid code, a string literal, a comment, a template and unterminated variants.
  std::string code = "x = " + repeat("a+", size / 2) + "a;";
  std::string str = "s = '" + repeat("x", size) + "';";
  std::string comment = "/*" + repeat("c", size) + "*/ y;";
  std::string line_comment = "//" + repeat("c", size);
  std::string tmpl = "t = `" + repeat("t", size) + "`;";
  for (const std::string* s : {&code, &str, &comment, &line_comment, &tmpl}) {
    EXPECT_EQ(compile(*s, ".js", false, false), 0);
    EXPECT_EQ(compile(*s, ".jsx", true, false), 0);
  }
  EXPECT_EQ(compile(str.substr(0, str.size() - 2), ".js", false, false), 1);
  EXPECT_EQ(compile(tmpl.substr(0, tmpl.size() - 2), ".jsx", false, false), 1);
  EXPECT_EQ(compile(comment.substr(0, comment.size() - 5), ".js", true, false), 1);
}

// Deep nesting must end in an output or a message, never in a stack overflow.
TEST_F(BadInput, HundredThousandNestedBrackets) {
  const size_t depth = 100000;
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {"(", ")"}, {"[", "]"}, {"{", "}"}, {"x=(", ")"}, {"f(", ")"}};
  for (const auto& p : pairs) {
    SCOPED_TRACE(p.first);
    // Unclosed, closed, and closed wrongly at the innermost level.
    compile(repeat(p.first, depth), ".js", false, false);
    compile(repeat(p.first, depth) + "1" + repeat(p.second, depth) + ";\n", ".js", false, false);
    compile(repeat(p.first, depth) + "]" + repeat(p.second, depth), ".jsx", false, false);
  }
}

TEST_F(BadInput, HundredThousandNestedTemplates) {
  const size_t depth = 100000;
  // `${`${`${ ... }`}`}` and the same unclosed.
  std::string open = "t = " + repeat("`${", depth);
  compile(open, ".js", false, false);
  compile(open + "1" + repeat("}`", depth) + ";\n", ".js", false, false);
  compile(open + "1" + repeat("}`", depth) + ";\n", ".jsx", true, false);
}

TEST_F(BadInput, HundredThousandNestedMarkup) {
  const size_t depth = 100000;
  std::string open = "v = " + repeat("<a>", depth);
  compile(open, ".jsx", false, false);
  compile(open + repeat("</a>", depth) + ";\n", ".jsx", false, false);
  compile(open + repeat("</b>", depth) + ";\n", ".jsx", false, false);
  compile("v = " + repeat("<a>${", depth), ".jsx", false, false);
  // In the .js dialect the same text is a chain of comparisons.
  compile(open + repeat("</a>", depth) + ";\n", ".js", false, false);
}

}  // namespace
}  // namespace test
}  // namespace nubrix
