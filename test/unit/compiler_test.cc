// The compiler in process, one line per case: the scanner's tokens, the output of
// transform_js / transform_jsx, and the exact error texts, grouped by transform. Whole
// files and error files stay in test/golden; a rule that one line shows belongs here.
//
//   expect_tokens("a%b", {IDENTIFIER, MOD, IDENTIFIER});
//   expect_output("import V from 'v';", "const V= require('v').default;\n");
//   expect_error("a)", "SyntaxError: Unexpected token", 1, 2);
//
// Every case is a .js source named "test.js" unless the helper's name says .jsx.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "jsx/scanner.h"
#include "jsx/token.h"
#include "tools/driver.h"
#include "utils/codec.h"
#include "utils/error.h"

namespace nubrix {
namespace {

String16 utf16(const std::string& text) {
  return String16(utf8_to_utf16(text.data(), (uint32_t)text.size()));
}

std::string utf8(const String16& text) {
  Buffer b = utf16_to_utf8(text.data(), text.length());
  return std::string(b.data(), b.length());
}

// ---- helpers ----

// The token types of `in` up to EOS (not included), as names for readable failures.
std::vector<std::string> scan_names(const std::string& in, bool clean_comment = false) {
  String16 source = utf16(in);
  Scanner scanner(source.data(), source.length(), clean_comment);
  std::vector<std::string> names;
  for (int guard = 0; guard < 10000; guard++) {
    uint32_t t = scanner.next();
    if (t == EOS) break;
    names.push_back(token_name(t));
  }
  return names;
}

void expect_tokens(const std::string& in, std::initializer_list<uint32_t> types) {
  std::vector<std::string> expected;
  for (uint32_t t : types) expected.push_back(token_name(t));
  EXPECT_EQ(scan_names(in), expected) << "source: " << in;
}

// The type and value of the first token of `in`.
void expect_first_token(const std::string& in, uint32_t type, const std::string& value) {
  String16 source = utf16(in);
  Scanner scanner(source.data(), source.length(), false);
  uint32_t t = scanner.next();
  EXPECT_STREQ(token_name(t), token_name(type)) << "source: " << in;
  EXPECT_EQ(utf8(scanner.value(scanner.current)), value) << "source: " << in;
}

std::string compile(const std::string& in, bool jsx, bool clean_comment, std::string* error) {
  String16 source = utf16(in);
  try {
    String16 out = jsx ? transform_jsx(String(jsx ? "test.jsx" : "test.js"), source, clean_comment)
                       : transform_js(String("test.js"), source, clean_comment);
    return utf8(out);
  } catch (const Error& e) {
    *error = std::string(e.message().c_str(), e.message().length());
    return std::string();
  }
}

void expect_output(const std::string& in, const std::string& out, bool jsx = false,
                   bool clean_comment = false) {
  std::string error;
  std::string actual = compile(in, jsx, clean_comment, &error);
  EXPECT_EQ(error, "") << "source: " << in;
  EXPECT_EQ(actual, out) << "source: " << in;
}
void expect_output_jsx(const std::string& in, const std::string& out) {
  expect_output(in, out, true);
}

// The whole message: the text, then "line:L, pos:P, test.js" on the second line.
void expect_error(const std::string& in, const std::string& message, int line, int pos,
                  bool jsx = false) {
  std::string error;
  std::string actual = compile(in, jsx, false, &error);
  std::string expected = message + "\nline:" + std::to_string(line) +
                         ", pos:" + std::to_string(pos) + ", " + (jsx ? "test.jsx" : "test.js");
  EXPECT_EQ(error, expected) << "source: " << in << "\noutput: " << actual;
}
void expect_error_jsx(const std::string& in, const std::string& message, int line, int pos) {
  expect_error(in, message, line, pos, true);
}

// ---- the token vocabulary ----

TEST(Tokens, EveryKeywordScansAsItsToken) {
  int keywords = 0;
  for (uint32_t t = 0; t < TOKEN_COUNT; t++) {
    const char* word = keyword_text(t);
    if (!word) continue;
    keywords++;
    expect_tokens(word, {t});
    // Case matters, and a longer name is a plain identifier.
    std::string upper(word);
    upper[0] = (char)(upper[0] - 'a' + 'A');
    expect_tokens(upper, {IDENTIFIER});
    expect_tokens(std::string(word) + "x", {IDENTIFIER});
  }
  EXPECT_EQ(keywords, 23);  // the keyword operators in, instanceof and typeof included
}

TEST(Tokens, OperatorsAreWrittenFromTheTextThatSpellsThem) {
  const char* const kOperators[] = {
      "|=", "^=", "&=",  "<<=", ">>=", ">>>=", "+=",  "-=", "*=", "**=", "%=", "||",
      "&&", "|",  "^",   "&",   "<<",  ">>",   ">>>", "+",  "-",  "*",   "**", "%",
      "==", "!=", "===", "!==", "<=",  ">=",   "<",   ">",  "=",  "?",   ":",  ","};
  for (const char* op : kOperators) {
    std::string in = std::string("a ") + op + " b";
    std::vector<std::string> names = scan_names(in);
    ASSERT_EQ(names.size(), 3u) << in;
    expect_output(in, in + "\n");
  }
  for (uint32_t t = 0; t < TOKEN_COUNT; t++) {
    int32_t text = operator_text(t);
    if (text < 0) continue;
    // The text scans back as the token it spells.
    std::string spelled = utf8(output_text((uint32_t)text));
    expect_tokens(spelled, {t});
  }
}

TEST(Tokens, NamePlaces) {
  // Identifier-like: accepted wherever a name is.
  for (uint32_t t : {IDENTIFIER, AS, ASYNC, FROM, OF, EVENT, GET, SET}) {
    EXPECT_TRUE(is_identifier_like(t)) << token_name(t);
    EXPECT_TRUE(is_name(t, NAME_METHOD)) << token_name(t);
  }
  for (uint32_t t : {EXPORT, IMPORT, CLASS, DEFAULT, STATIC, STRING_LITERAL, IN}) {
    EXPECT_FALSE(is_identifier_like(t)) << token_name(t);
  }
  // Import bindings are narrower; export lists take `default` too.
  EXPECT_FALSE(is_name(AS, NAME_BINDING));
  EXPECT_FALSE(is_name(FROM, NAME_BINDING));
  EXPECT_TRUE(is_name(DEFAULT, NAME_EXPORT_LIST));
  // Every word may follow a period; markup attributes take every word but `static`.
  for (uint32_t t = IDENTIFIER; t <= STATIC; t++) EXPECT_TRUE(is_name(t, NAME_PROPERTY));
  EXPECT_FALSE(is_name(STATIC, NAME_ATTRIBUTE));
  EXPECT_TRUE(is_name(TYPEOF, NAME_ATTRIBUTE));
}

// ---- scanner ----

TEST(Scanner, Punctuators) {
  expect_tokens("x %= 2", {IDENTIFIER, ASSIGN_MOD, NUMBER_LITERAL});
  expect_tokens("a%b", {IDENTIFIER, MOD, IDENTIFIER});
  expect_tokens("%{", {PERCENT_BRACE, LBRACE});
  expect_tokens("%%{", {PERCENT_PERCENT_BRACE, LBRACE});
  expect_tokens("%%x", {MOD, MOD, IDENTIFIER});
  expect_tokens("a=>b", {IDENTIFIER, ASSIGN, GT, IDENTIFIER});
  expect_tokens("...a", {PERIOD, PERIOD, PERIOD, IDENTIFIER});
  expect_tokens("a>>>=b", {IDENTIFIER, ASSIGN_SHR, IDENTIFIER});
  expect_tokens("@x", {AT, IDENTIFIER});
  expect_tokens("#", {ILLEGAL});
}

TEST(Scanner, Numbers) {
  for (const char* n :
       {"0.5", ".5", "1e10",  "1E+5", "0x1F", "0b101", "0777",   "1.", "1_000", "1e1_0",
        "10n", "0n", "0xFFn", "0o17", "0O7",  "0B1",   "0b1_0n", "08", "09.5",  "5."}) {
    expect_tokens(n, {NUMBER_LITERAL});
  }
  expect_tokens("1..a", {NUMBER_LITERAL, PERIOD, IDENTIFIER});
  expect_tokens("0.5.toFixed", {NUMBER_LITERAL, PERIOD, IDENTIFIER});
  expect_tokens("01.a", {NUMBER_LITERAL, PERIOD, IDENTIFIER});
  for (const char* n : {"1e", "1e+", "0x", "0b2", "5px", "1__0", "1_", "0_1", "0x_1", "07n", "1.5n",
                        "1e3n", "0o8", "1.2.3", "07.5", "3in"}) {
    std::vector<std::string> names = scan_names(n);
    ASSERT_FALSE(names.empty()) << n;
    EXPECT_EQ(names[0], "ILLEGAL") << n;
  }
}

TEST(Scanner, StringsAndTemplates) {
  expect_first_token("'a\\\nb'", STRING_LITERAL, "'a\\\nb'");
  expect_first_token("\"\\u00e9\"", STRING_LITERAL, "\"\\u00e9\"");
  expect_first_token("\"\\u00g9\"", ILLEGAL, "");
  expect_first_token("\"\\u{e9}\"", STRING_LITERAL, "\"\\u{e9}\"");
  expect_first_token("'\\u{10FFFF}'", STRING_LITERAL, "'\\u{10FFFF}'");
  expect_first_token("'\\u{110000}'", ILLEGAL, "");
  expect_first_token("'\\u{}'", ILLEGAL, "");
  // Line continuations are copied as written.
  expect_first_token("'a\\\r\nb'", STRING_LITERAL, "'a\\\r\nb'");
  expect_first_token("'a\\\rb'", STRING_LITERAL, "'a\\\rb'");
  expect_first_token("`a\\\r\nb`", STRING_LITERAL, "`a\\\r\nb`");
  expect_first_token("`a b`", STRING_LITERAL, "`a b`");
  expect_first_token("`a${b}`", DOLLAR_BRACE, "`a");
  expect_tokens("'abc\n", {ILLEGAL});
}

TEST(Scanner, UnicodeNamesSpacesAndLineBreaks) {
  expect_first_token("\u00e9t\u00e9", IDENTIFIER, "\u00e9t\u00e9");
  expect_first_token("\u03c0x", IDENTIFIER, "\u03c0x");
  expect_first_token("_\U000104A6", IDENTIFIER, "_\U000104A6");  // ID_Continue outside the BMP
  expect_first_token("x\u200cy", IDENTIFIER, "x\u200cy");        // ZWNJ
  expect_first_token("\\u0061b", IDENTIFIER, "\\u0061b");
  expect_first_token("a\\u{62}", IDENTIFIER, "a\\u{62}");
  expect_first_token("cl\\u0061ss", IDENTIFIER, "cl\\u0061ss");  // never a keyword
  expect_first_token("\\u0030", ILLEGAL, "");                    // not a name start
  expect_first_token("\U000104A6", ILLEGAL, "");                 // a digit, not a start
  expect_tokens("\u20ac", {ILLEGAL});
  expect_tokens("a\u00a0b\ufeffc\u3000d\u2003e",
                {IDENTIFIER, IDENTIFIER, IDENTIFIER, IDENTIFIER, IDENTIFIER});
  expect_tokens("a\u2028b\u2029c", {IDENTIFIER, IDENTIFIER, IDENTIFIER});
  expect_tokens("// x\u2028y", {IDENTIFIER});
  expect_error("a\u2028b\u2029c\n)", "SyntaxError: Unexpected token", 4, 7);
  expect_error("/* \u2028 */ )", "SyntaxError: Unexpected token", 2, 9);
  expect_error("s = '\u2028'; )", "SyntaxError: Unexpected token", 2, 10);
}

// The scanner reads comments, blank runs and names eight units at a time: every end
// must be found wherever it falls in such a block, the line count must stay exact, and
// a unit just past a block (a '/' after a '*', a name unit) must not be lost.
TEST(Scanner, EndsAtEveryPlaceOfABlock) {
  for (int pad = 0; pad < 20; pad++) {
    std::string fill(pad, 'x');
    std::string name = "a" + fill;
    expect_first_token(name + " b", IDENTIFIER, name);
    expect_first_token(name + "$_9(", IDENTIFIER, name + "$_9");
    expect_first_token(name + "\u0062", IDENTIFIER, name + "\u0062");
    expect_first_token(name + "\u00e9-", IDENTIFIER, name + "\u00e9");
    expect_first_token(name + "\u00e9", IDENTIFIER, name + "\u00e9");
    expect_tokens(name + "\u00f7", {IDENTIFIER, ILLEGAL});  // a division sign ends the name
    // The comment's '*' and '/' on both sides of a block edge, stars inside, line
    // feeds before the end (the next token is on the right line).
    std::string body = std::string(pad, '*') + "\n" + fill;
    expect_tokens("/*" + body + "*/a", {IDENTIFIER});
    expect_tokens("/*" + body + "*" + "/a", {IDENTIFIER});
    expect_tokens("/*" + body + "* /a*/b", {IDENTIFIER});
    // Blank runs: spaces, tabs and line feeds mixed, ending anywhere in a block.
    std::string blank;
    for (int i = 0; i < pad; i++) blank += " \t \n"[i % 4];
    expect_output("a" + blank + "b", "a" + blank + "b\n");
    std::string after_blank = "a" + blank + "b\n)";
    expect_error(after_blank, "SyntaxError: Unexpected token", 2 + pad / 4,
                 (int)after_blank.size());
    // Line feeds just after the end, inside the same block, are not the comment's.
    std::string in = "/*" + body + "*/\n\n)";
    expect_error(in, "SyntaxError: Unexpected token", 4, (int)in.size());
    expect_tokens("/*" + body + "*", {ILLEGAL});
    expect_tokens("/*" + body, {ILLEGAL});
    expect_output("/*" + body + "\n*/a\n" + fill + "\n\nb",
                  "/*" + body + "\n*/a\n" + fill + "\n\nb\n");
    expect_output("a /*" + body + "*/ = 1", "a /*" + body + "*/ = 1\n");
    expect_output("a /*" + body + "*/ = 1", "a \n = 1\n", false, true);
  }
  expect_tokens("/*/ a", {ILLEGAL});
  expect_tokens("/**/a", {IDENTIFIER});
  expect_tokens("/***/a", {IDENTIFIER});
}

TEST(Scanner, Markup) {
  expect_first_token("<a.b:c.d", XML_ELEMENT_TAG, "a.b:c.d");
  expect_first_token("</a>", XML_ELEMENT_TAG_END, "a");
  expect_first_token("<!-- a*b -->", XML_COMMENT, " axb ");
  expect_tokens("<!x", {LT, NOT, IDENTIFIER});
  expect_tokens("a<b", {IDENTIFIER, XML_ELEMENT_TAG});
  expect_tokens("a < b", {IDENTIFIER, LT, IDENTIFIER});
}

TEST(Scanner, FirstLine) {
  expect_first_token("#!/usr/bin/env x\ny", SHEBANG, "#!/usr/bin/env x");
  expect_tokens("\xEF\xBB\xBFz", {IDENTIFIER});
  expect_tokens("", {});
}

// ---- passing code through ----

TEST(Passthrough, CodeAndLayout) {
  expect_output("", "\n");
  expect_output("a=b/c/d", "a=b/c/d\n");
  expect_output("x = /ab+c/g.test(s)", "x = /ab+c/g.test(s)\n");
  expect_output("if (a) /x/.test(s)", "if (a) /x/.test(s)\n");
  // A regular expression after the words that take an operand, after the heads of
  // while, for and with, and after a block or a declaration's body.
  for (const char* in :
       {"function* g() { yield /'/g; }", "async function f() { await /'/; }",
        "switch (x) { case /'/: }", "throw /'/", "void /'/", "delete /'/.x",
        "do /'/.x(); while (0)", "new /'/.constructor()", "while (a) /'/.x()", "for (;;) /'/.x()",
        "with (o) /'/.x", "{}\n/'/.x()", "function f() {}\n/'/.x()", "class C {}\n/'/.x()",
        "x = () => {}\n/'/.x()", "export default /'/"}) {
    std::string out = std::string(in) + "\n";
    if (std::string(in) == "export default /'/") out = " exports.default= /'/\n";
    expect_output(in, out);
  }
  // A division after an object literal, a function or class expression, a member name.
  for (const char* in : {"x = {} / 1", "x = ({}) / 1", "x = a[0] / 2", "x = function () {} / 1",
                         "x = async function () {} / 1", "x = class {} / 1", "x = {a: {} / 1}",
                         "function r() { return {} / 1; }", "x = +{} / 1", "x = a.in / b",
                         "x = a.yield / 2", "x = `${ {} / 1 }`"}) {
    expect_output(in, std::string(in) + "\n");
  }
  expect_output("a  // c\n\tb /* d */", "a  // c\n\tb /* d */\n");
  expect_output("obj.class = 1", "obj.class = 1\n");
  expect_output("`a${b}${c}d`", "`a${b}${c}d`\n");
  expect_output("a /* x */\nb", "a \nb\n", false, true);
}

TEST(Passthrough, Errors) {
  expect_error("a)", "SyntaxError: Unexpected token", 1, 2);
  expect_error("f(\n{", "SyntaxError: Unexpected token", 2, 4);
  expect_error("@dec class A {}", "SyntaxError: Unexpected token", 1, 1);
  expect_error("a # b", "SyntaxError: Unexpected token", 1, 3);
  expect_error("x = /a", "RegExp Syntax error", 1, 5);
}

// The report for standard error: the place of the token that starts the error, the
// first line of the message only, and colours only when asked for.
TEST(Passthrough, ErrorReport) {
  String16 source = utf16("ok;\n  x = /a\n");
  Buffer out;
  String message;
  String detail;
  EXPECT_FALSE(compile_source("t.js", source, false, false, out, message, &detail));
  EXPECT_EQ(std::string(detail.c_str()),
            "t.js:2:7: error: RegExp Syntax error\n  x = /a\n      ^\n");
  EXPECT_EQ(out.length(), 0u);
  String plain = describe_error("t.js", source, message, 6, "a hint", false);
  EXPECT_EQ(std::string(plain.c_str()),
            "t.js:2:3: error: RegExp Syntax error\n  x = /a\n  ^\nnote: a hint.\n");
  String coloured = describe_error("t.js", source, message, 6, "a hint", true);
  EXPECT_EQ(std::string(coloured.c_str()),
            "\x1b[1mt.js:2:3: \x1b[1;31merror: \x1b[0m\x1b[1mRegExp Syntax error\n\x1b[0m  x = "
            "/a\n  \x1b[1;32m^\x1b[0m\n\x1b[1;36mnote:\x1b[0m a hint.\n");
  // A start past the end (the end of the source) stays on the last line.
  String end = describe_error("t.js", utf16("f("), "E\nline:1", 99, nullptr, false);
  EXPECT_EQ(std::string(end.c_str()), "t.js:1:3: error: E\nf(\n  ^\n");
}

// ---- modules ----

TEST(Modules, Imports) {
  expect_output("import View from 'view';", "const View= require('view').default;\n");
  expect_output("import View, {Box, Text} from 'view';",
                "const { default:View,Box, Text} = require('view');\n");
  expect_output("import * as path from 'path';", "const  path = require('path');\n");
  expect_output("import {join, dirname} from 'path';",
                "const {join, dirname} = require('path');\n");
  expect_output("import 'util/my-tools.js' as tools;",
                "const  tools = require('util/my-tools.js');\n");
  expect_output("import './list-item.view.jsx';",
                "const list_item_view = require('./list-item.view.jsx') ;\n");
  expect_output("import './2d.js';", "require('./2d.js') ;\n");
  expect_error("import 42;", "SyntaxError: Unexpected token", 1, 9);
  // A default and a namespace binding; an empty list.
  expect_output("import d, * as ns from 'm';",
                "const [d, ns]= (($)=>[$.default,$])(require('m'));\n");
  expect_output("import {} from 'm';", "const {} = require('m');\n");
  // Keywords and strings as the names of another module's exports.
  expect_output("import { function as f, \"a-b\" as ab, if as i } from 'm';",
                "const { function : f, \"a-b\" : ab, if : i } = require('m');\n");
  expect_output("import { as } from 'm';", "const { as } = require('m');\n");
  expect_error("import { a = 1 } from 'm';", "SyntaxError: Unexpected token", 1, 12);
  // Import attributes are dropped with their line feeds kept; the default import of
  // a JSON module is its value.
  expect_output("import data from './d.json' with { type: 'json' };",
                "const data= require('./d.json');\n");
  expect_output("import data from './d.json' assert { type: \"json\" };",
                "const data= require('./d.json');\n");
  expect_output("import * as ns from './d.json' with { type: 'json' };",
                "const  ns = {default:require('./d.json')};\n");
  expect_output("import x from './x.js' with {\n  type: 'js'\n};",
                "const x= require('./x.js').default\n\n;\n");
  expect_output("import {a} from './x.js' with {};", "const {a} = require('./x.js');\n");
  expect_output("import './x.css' with { type: 'css' };", "const x = require('./x.css') ;\n");
  expect_output("import x from 'm'\nassert({})", "const x= require('m').default\nassert({})\n");
}

// A rewritten statement without its `;` gets one when the next line would continue it.
TEST(Modules, StatementEnds) {
  expect_output("import { v } from './m.js'\n(function () {})()",
                "const { v } = require('./m.js');\n(function () {})()\n");
  expect_output("export { v }\n[1, 2].forEach(f)", "module._export= { v };\n[1, 2].forEach(f)\n");
  expect_output("import x from 'm'\n`t`", "const x= require('m').default;\n`t`\n");
  expect_output("import 'm'\n-1", "const m = require('m') ;\n-1\n");
  expect_output("import * as m from 'm'\n+1", "const  m = require('m');\n+1\n");
  expect_output("export * from 'm'\n/x/.test(s)",
                "module._export= (({default:$,...$$})=>$$)(require('m'));\n/x/.test(s)\n");
  expect_output("export {a} from 'm'\n[b]",
                "module._export= (($)=>({a:$.a}))(  require('m'));\n[b]\n");
  expect_output("export default function () {}\n(x)", " exports.default= function () {};\n(x)\n");
  expect_output("export default class {}\n[x]", " exports.default= class {};\n[x]\n");
  // Nothing is added where the statement has its `;` or the next line starts anew.
  expect_output("import x from 'm';\n(y)", "const x= require('m').default;\n(y)\n");
  expect_output("import x from 'm'\ny()", "const x= require('m').default\ny()\n");
  // An expression after `export default` continues onto the next line, as it does in
  // a module.
  expect_output("export default x\n(y)", " exports.default= x\n(y)\n");
}

TEST(Modules, Exports) {
  expect_output("export var a = 1;", "/*export*/ var a = 1;\nexports.a=a;\n");
  expect_output("export async function load() {}",
                "/*export*/ async function load() {}\nexports.load=load;\n");
  expect_output("export {a, b};", "module._export= {a, b};\n");
  expect_output("export default {name: 'x'};", " exports.default= {name: 'x'};\n");
  expect_output("export default class App {}", " /*export*/ class App {}\nexports.default=App;\n");
  expect_output("export {a}\nfrom\n\"m\";\nz;\n",
                "module._export= (($)=>({a:$.a}))(\n\nrequire(\"m\"));\nz;\n\n");
  expect_output("export default 42", " exports.default= 42\n");
  expect_error("export default;", "SyntaxError: Unexpected token", 1, 15);
  expect_error("export default export", "SyntaxError: Unexpected token", 1, 21);
  // Every name but default, or the whole module under one name.
  expect_output("export * from './x.js';",
                "module._export= (({default:$,...$$})=>$$)(require('./x.js'));\n");
  expect_output("export*from\"./x.js\"",
                "module._export=(({default:$,...$$})=>$$)(require(\"./x.js\"))\n");
  expect_output("export * as ns from './x.js';", "module._export= {ns:require('./x.js')};\n");
  expect_output("export * as \"a-b\" from 'x';", "module._export= {\"a-b\":require('x')};\n");
  expect_output("export * as default from 'x';", "module._export= {default:require('x')};\n");
  expect_output("export * from 'x' with { type: 'js' };",
                "module._export= (({default:$,...$$})=>$$)(require('x'));\n");
  expect_error("export * ns from 'x';", "SyntaxError: Unexpected token", 1, 11);
  expect_error("export * from x;", "SyntaxError: Unexpected token", 1, 15);
  expect_error("export * as default from 'x'; export default 1;", "SyntaxError: Unexpected token",
               1, 44);
  // Any value and any anonymous declaration after export default, in place.
  expect_output("export default function () {}", " exports.default= function () {}\n");
  expect_output("export default function* () {}", " exports.default= function* () {}\n");
  expect_output("export default async function () {}", " exports.default= async function () {}\n");
  expect_output("export default async () => 1;", " exports.default= async () => 1;\n");
  expect_output("export default (a, b) => a + b;", " exports.default= (a, b) => a + b;\n");
  expect_output("export default class {}", " exports.default= class {}\n");
  expect_output("export default class extends B { m() {} }",
                " exports.default= class extends B { m() {} }\n");
  expect_output("export default typeof X === 'function' ? a : b;",
                " exports.default= typeof X === 'function' ? a : b;\n");
  expect_output("export default 'x';", " exports.default= 'x';\n");
  expect_output("export default -1;", " exports.default= -1;\n");
  expect_output("export default `t${a}`;", " exports.default= `t${a}`;\n");
  expect_output("export default import.meta;", " exports.default= import.meta;\n");
  expect_output("export default function* g() {}",
                " /*export*/ function* g() {}\nexports.default=g;\n");
  expect_output("export default async function* g() {}",
                " /*export*/ async function* g() {}\nexports.default=g;\n");
  // A field stays refused in an anonymous class.
  expect_error("export default class { x = 1; }", "SyntaxError: Unexpected token", 1, 24);
  // Generators and async generators are exported by name.
  expect_output("export function* g() {}", "/*export*/ function* g() {}\nexports.g=g;\n");
  expect_output("export async function* g() {}",
                "/*export*/ async function* g() {}\nexports.g=g;\n");
  expect_error("export function* () {}", "SyntaxError: Unexpected token", 1, 18);
  // Every name a declaration binds.
  expect_output("export var a = 1, b = 2;",
                "/*export*/ var a = 1, b = 2;\nexports.a=a;\nexports.b=b;\n");
  expect_output("export let a, b;", "/*export*/ let a, b;\nexports.a=a;\nexports.b=b;\n");
  expect_output("export const {p, q: [r], ...rest} = o;",
                "/*export*/ const {p, q: [r], ...rest} = o;\nexports.p=p;\nexports.r=r;\n"
                "exports.rest=rest;\n");
  expect_output("export const [x, , y = 1] = arr;",
                "/*export*/ const [x, , y = 1] = arr;\nexports.x=x;\nexports.y=y;\n");
  expect_output("export const {[k]: a = f(1, 2), 'q': {b}, class: c} = o;",
                "/*export*/ const {[k]: a = f(1, 2), 'q': {b}, class: c} = o;\n"
                "exports.a=a;\nexports.b=b;\nexports.c=c;\n");
  expect_output("export const f = (a, b) => a, g = function () { return [1, 2]; };",
                "/*export*/ const f = (a, b) => a, g = function () { return [1, 2]; };\n"
                "exports.f=f;\nexports.g=g;\n");
  // Without semicolons: the line break ends the declaration where the next line cannot
  // continue it.
  expect_output("export let a = 1\nb = 2, c", "/*export*/ let a = 1\nb = 2, c\nexports.a=a;\n");
  expect_output("export let a = b\n(c), d",
                "/*export*/ let a = b\n(c), d\nexports.a=a;\nexports.d=d;\n");
  expect_error("export const {a: 1} = o;", "SyntaxError: Unexpected token", 1, 18);
  expect_error("export let 1;", "SyntaxError: Unexpected token", 1, 12);
  // Keywords and strings as the exported names.
  expect_output("export { _f as function, v as \"a-b\" };",
                "module._export= {   function:_f,   \"a-b\":v };\n");
  expect_output("export { \"a-b\" as ab, if } from 'm';",
                "module._export= (($)=>({   ab:$[\"a-b\"], if:$.if }))(  require('m'));\n");
  expect_error("export { if };", "SyntaxError: Unexpected token", 1, 11);
  expect_error("export default a; export default b;", "SyntaxError: Unexpected token", 1, 32);
}

// ---- classes and events ----

TEST(Classes, FieldsAndEvents) {
  expect_output("class A { x = 1; }",
                "class A { /*x = 1*/ }\n__extend(A.prototype,{\n  x: 1,\n},1);\n");
  expect_output("class A {}", "class A {}\n");
  expect_output("class A { get v() { return 1 } set v(x) {} }",
                "class A { get v() { return 1 } set v(x) {} }\n");
  expect_output("class A { event onTap; }",
                "class A {  get onTap() { return this.getNoticer('Tap') }"
                "set onTap(func) { this.addDefaultListener('Tap', func) }"
                "triggerTap(ev,is_ev) { return this.$trigger('Tap',ev,is_ev) } }\n");
  expect_error("class A { event on; }", "Syntax error, event name incorrect", 1, 18);
  expect_error("class A { get v(x) {} }", "Syntax error, define property accessor", 1, 17);
  expect_error("class A { set v() {} }", "syntax error, define set property accessor", 1, 17);
  expect_error("class A { static x = 1; }", "SyntaxError: Unexpected token", 1, 20);
}

TEST(Classes, MemberNames) {
  // Any word is a method name; fields keep their names.
  expect_output("class A { import() {} if() {} static() {} return() {} default() {} }",
                "class A { import() {} if() {} static() {} return() {} default() {} }\n");
  expect_output("class A { static static() {} get static() {} async() {} *class() {} 3() {} }",
                "class A { static static() {} get static() {} async() {} *class() {} 3() {} }\n");
  // Computed members are methods.
  expect_output("class A { [Symbol.iterator]() {} *[Symbol.iterator]() {} async [k]() {} }",
                "class A { [Symbol.iterator]() {} *[Symbol.iterator]() {} async [k]() {} }\n");
  expect_output("class A { get [k]() {} set [k](v) {} static [k]() {} static get [k]() {} }",
                "class A { get [k]() {} set [k](v) {} static [k]() {} static get [k]() {} }\n");
  // Out of the dialect, with the same messages as before.
  expect_error("class A { [k] = 1; }", "SyntaxError: Unexpected token", 1, 15);
  expect_error("class A { if = 1; }", "SyntaxError: Unexpected token", 1, 12);
  expect_error("class A { static x; }", "SyntaxError: Unexpected token", 1, 19);
  expect_error("class A { #x = 1; }", "SyntaxError: Unexpected token", 1, 11);
  expect_error("class A { static { } }", "SyntaxError: Unexpected token", 1, 18);
  expect_error("class A { get [k](x) {} }", "Syntax error, define property accessor", 1, 19);
  expect_error("static x = 1;", "SyntaxError: Unexpected token", 1, 6);
  expect_output("var static, public;", "var static, public;\n");
}

// Keywords as object keys, method names and destructuring keys.
TEST(Passthrough, KeywordsAsKeys) {
  expect_output("h('div', {class: 'x', import: 1, export: 2, if: 3, static: 4, extends: 5});",
                "h('div', {class: 'x', import: 1, export: 2, if: 3, static: 4, extends: 5});\n");
  expect_output("o = { class() {}, get static() {}, if() {}, *import() {}, async export() {} }",
                "o = { class() {}, get static() {}, if() {}, *import() {}, async export() {} }\n");
  expect_output("let { class: klass, extends: base } = props;",
                "let { class: klass, extends: base } = props;\n");
  expect_output("function f({ if: a, default: b }) {}", "function f({ if: a, default: b }) {}\n");
  // In a block the keyword stays a statement.
  expect_output("{ if (a) {} }", "{ if (a) {} }\n");
  expect_output("f(() => { if (a) /x/.test(s) })", "f(() => { if (a) /x/.test(s) })\n");
}

// ---- markup ----

TEST(Markup, Elements) {
  expect_output_jsx("x = <br/>", "x = {vx:0,v:[br,[],[]]}\n");
  expect_output_jsx("x = <div class=\"box\">Hello ${name}!</div>",
                    "x = {vx:0,v:[div, [[[\"class\"],0,\"box\"]],"
                    "[{vx:2,v:\"Hello \"},(name),{vx:2,v:\"!\"}]]}\n");
  expect_output_jsx("x = <vx:Item key=\"a\" disabled/>",
                    "x = __vx(Item, [[[\"key\"],0,\"a\"], [[\"disabled\"],0,\"\"]])\n");
  expect_output_jsx("x = <List vdata={rows}/>",
                    "x = {vx:0,v:[List, [],[],[[\"vdata\"],0,{rows}]]}\n");
  expect_output("x = a <b", "x = a <b\n");
  // A space before __vx( only where the output ends in a word; whitespace that stands
  // there is kept as written.
  expect_output_jsx("function f(){return<vx:S/>}", "function f(){return __vx(S,[])}\n");
  expect_output_jsx("function f(){return <vx:S/>}", "function f(){return __vx(S,[])}\n");
  expect_output_jsx("function f(){return  <vx:S/>}", "function f(){return  __vx(S,[])}\n");
  expect_output_jsx("function f(){return\t<vx:S/>}", "function f(){return\t__vx(S,[])}\n");
  expect_output_jsx("x = typeof<vx:S/>", "x = typeof __vx(S,[])\n");
  expect_output_jsx("x=<vx:S/>", "x=__vx(S,[])\n");
  expect_output_jsx("export default<vx:S/>", " exports.default=__vx(S,[])\n");
  expect_error_jsx("x = <a b=1 b=2/>", "Xml Syntax error, attribute repeat: b", 1, 13);
  expect_error_jsx("x = <a></b>", "Xml Syntax error, The end of the unknown, <a> ... </b>", 1, 11);
  expect_error_jsx("x = <vx:A></vx:A>", "View xml component cannot have child views.", 1, 10);
}

// ---- the line invariant ----

// Each statement form with a line feed in every gap between its tokens (and the next
// statement after it) must keep every token on its own source line: the output has the
// source's line feeds before the trailer, and the last token stands on the last line.
TEST(Lines, LineFeedInEveryGapOfEveryRewrittenStatement) {
  struct Form {
    const char* tokens;
    bool jsx;
  };
  const Form kForms[] = {
      {"import View from 'view' ;", false},
      {"import View , { Box , Text as T } from 'view' ;", false},
      {"import * as path from 'path' ;", false},
      {"import { join , dirname as dn } from 'path' ;", false},
      {"import 'util/my-tools.js' as tools ;", false},
      {"import './list-item.view.jsx' ;", false},
      {"export var a = 1 ;", false},
      {"export async function load ( ) { }", false},
      {"export { a , b as c } ;", false},
      {"export { a } from \"m\" ;", false},
      {"export { a as b , c } from './m' ;", false},
      {"export default { name : 'x' } ;", false},
      {"export default class App extends View { }", false},
      {"export * from './m' ;", false},
      {"export * as ns from './m' ;", false},
      {"export const { p , q : [ r ] , ... rest } = o , s = 1 ;", false},
      {"export function * g ( ) { }", false},
      {"export default async function * ( ) { }", false},
      {"import d , * as ns from 'm' ;", false},
      {"import data from './d.json' with { type : 'json' } ;", false},
      {"import { \"a-b\" as ab , function as f } from 'm' ;", false},
      {"export { v as \"a-b\" , w as function } ;", false},
      {"class Q { [ k ] ( ) { } get [ k ] ( ) { } static * [ k ] ( ) { } }", false},
      {"o = { class : 1 , if ( ) { } , get static ( ) { } } ;", false},
      {"class P { count = 0 ; t = 'a' + b ; }", false},
      {"class P { event onTap ; get s ( ) { return 1 ; } set s ( v ) { } }", false},
      {"class P { static async * g ( ) { } }", false},
      {"if ( a ) /x/ . test ( s ) ;", false},
      {"x = `a${ b }c` ;", false},
      {"x = <div a = \"1\" b = { k : v } c = %{ y } > t ${ n } <br/> </div> ;", true},
      {"x = <vx:Item key = \"a\" vdata = { rows } /> ;", true},
      {"class P { x = <b/> ; }", true},
  };
  for (const Form& form : kForms) {
    std::string source;
    for (const char* p = form.tokens; *p; p++) source += *p == ' ' ? '\n' : *p;
    source += "\nz;\n";
    std::string error;
    std::string out = compile(source, form.jsx, false, &error);
    ASSERT_EQ(error, "") << "source:\n" << source;
    // The source's lines, then the trailer; z stands on the source's last line.
    size_t lines = 0;
    for (char c : source) lines += c == '\n';
    std::vector<std::string> out_lines;
    size_t start = 0;
    for (size_t i = 0; i < out.size(); i++) {
      if (out[i] == '\n') {
        out_lines.push_back(out.substr(start, i - start));
        start = i + 1;
      }
    }
    ASSERT_GE(out_lines.size(), lines) << "source:\n" << source << "\noutput:\n" << out;
    EXPECT_EQ(out_lines[lines - 1], "z;") << "source:\n" << source << "\noutput:\n" << out;
  }
}

}  // namespace
}  // namespace nubrix
