// libFuzzer target for the transpiler: arbitrary bytes are decoded from UTF-8, transpiled
// and encoded back, the way the command-line driver does it.
//
// The first byte picks the mode; the rest is the source text.
//   bit 0: the .jsx dialect (otherwise .js)
//   bit 1: --clean-comment
//   bit 2: go through `transpile` and its console report (otherwise call
//          transform_jsx / transform_js and inspect the thrown Error directly)
//
// Invariants, any failure aborts with a description:
//   - no crash, no sanitizer report;
//   - on success the output is valid UTF-8 (checked by a validator of this file, not the
//     codec's own) and holds more line feeds than the source: every source line feed stays
//     in place and the module trailer ends in one more;
//   - on failure the Error has the syntax code and a message ending in
//     "\nline:N, pos:M, <path>", with N within the source's lines and M within its length;
//     through `transpile`, exactly that message is logged once and the output stays empty.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "test/support/last_message_console.h"
#include "test/support/utf8_check.h"
#include "tools/driver.h"
#include "utils/codec.h"
#include "utils/console.h"
#include "utils/error.h"

namespace nubrix {
namespace {

[[noreturn]] void fail(const char* what, const std::string& detail) {
  fprintf(stderr, "invariant failed: %s\n%s\n", what, detail.c_str());
  abort();
}

using nubrix_test::first_invalid_utf8;

// Line breaks as the compiler counts them: line feeds, U+2028 and U+2029.
size_t count_line_feeds(const char* s, size_t n) {
  size_t count = 0;
  for (size_t i = 0; i < n; i++) {
    count += s[i] == '\n';
    count += i + 2 < n && s[i] == '\xE2' && s[i + 1] == '\x80' &&
             (s[i + 2] == '\xA8' || s[i + 2] == '\xA9');
  }
  return count;
}

bool parse_decimal(const std::string& s, size_t& i, uint64_t& value) {
  size_t start = i;
  value = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i - start < 12) {
    value = value * 10 + (uint64_t)(s[i] - '0');
    i++;
  }
  return i > start && (i == s.size() || s[i] < '0' || s[i] > '9');
}

// Checks "<text>\nline:N, pos:M, <path>" against the source's line count and length.
void check_message(const std::string& message, const std::string& path, size_t lines,
                   size_t units) {
  std::string tail = ", " + path;
  if (message.size() < tail.size() ||
      message.compare(message.size() - tail.size(), tail.size(), tail) != 0) {
    fail("error message does not end with the path", message);
  }
  size_t at = message.rfind("\nline:");
  if (at == std::string::npos || at == 0) fail("error message has no position", message);
  size_t i = at + 6;
  uint64_t line, pos;
  if (!parse_decimal(message, i, line)) fail("error message: bad line number", message);
  if (message.compare(i, 6, ", pos:") != 0) fail("error message: no pos", message);
  i += 6;
  if (!parse_decimal(message, i, pos)) fail("error message: bad pos", message);
  if (i != message.size() - tail.size()) fail("error message: text after the pos", message);
  if (line < 1 || line > lines) {
    fail("error message: line outside the source",
         message + "\n(source has " + std::to_string(lines) + " lines)");
  }
  if (pos > units) {
    fail("error message: pos beyond the source",
         message + "\n(source has " + std::to_string(units) + " units)");
  }
}

void check_output(const char* out, size_t out_length, size_t source_line_feeds) {
  long bad = first_invalid_utf8((const unsigned char*)out, out_length);
  if (bad >= 0) fail("output is not valid UTF-8", "at byte " + std::to_string(bad));
  size_t feeds = count_line_feeds(out, out_length);
  if (feeds < source_line_feeds + 1) {
    fail("output lost line feeds",
         "source " + std::to_string(source_line_feeds) + ", output " + std::to_string(feeds));
  }
}

LastMessageConsole* capture() {
  static LastMessageConsole* console = [] {
    auto* c = new LastMessageConsole();
    set_console(c);
    return c;
  }();
  return console;
}

}  // namespace
}  // namespace nubrix

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace nubrix;
  if (size == 0) return 0;
  uint8_t mode = data[0];
  bool is_jsx = mode & 1;
  bool clean_comment = mode & 2;
  bool via_transpile = mode & 4;
  const char* bytes = (const char*)data + 1;
  uint32_t length = (uint32_t)(size - 1);

  LastMessageConsole* console = capture();
  std::string path = is_jsx ? "fuzz.jsx" : "fuzz.js";
  size_t line_feeds = count_line_feeds(bytes, length);
  String16 source(utf8_to_utf16(bytes, length));

  if (via_transpile) {
    Buffer out;
    console->count = 0;
    int rc = transpile(String(path.c_str()), source, out, is_jsx, clean_comment);
    if (rc == 0) {
      if (console->count != 0) fail("success logged a message", console->last);
      check_output(out.data(), out.length(), line_feeds);
    } else {
      if (rc != 1) fail("transpile returned neither 0 nor 1", std::to_string(rc));
      if (console->count != 1) fail("failure not logged once", std::to_string(console->count));
      if (out.length() != 0) fail("failure left output", std::to_string(out.length()));
      check_message(console->last, path, line_feeds + 1, source.length());
    }
    return 0;
  }

  try {
    String16 text = is_jsx ? transform_jsx(String(path.c_str()), source, clean_comment)
                           : transform_js(String(path.c_str()), source, clean_comment);
    Buffer out = utf16_to_utf8(text.data(), text.length());
    check_output(out.data(), out.length(), line_feeds);
  } catch (const Error& e) {
    std::string message(e.message().c_str(), e.message().length());
    if (e.code() != ERR_SYNTAX) {
      fail("error with a code other than the syntax code",
           std::to_string(e.code()) + ": " + message);
    }
    check_message(message, path, line_feeds + 1, source.length());
  }
  return 0;
}
