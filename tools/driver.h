// The command-line driver: `jsxc SRC OUT [options]` (`jsxc --help` lists them). A folder as SRC is a
// project build (tools/project.h).
#ifndef NUBRIX_TOOLS_DRIVER_H
#define NUBRIX_TOOLS_DRIVER_H

#include "jsx/sourcemap.h"
#include "utils/buffer.h"
#include "utils/string.h"

namespace nubrix {

// Sources larger than this are refused (every internal length is 32-bit).
constexpr int64_t kMaxSourceBytes = 1LL << 30;

// Transpiles one source text into UTF-8 bytes in `out`. Returns 0 on success; on a
// syntax error logs its message and returns 1 (`out` is left empty).
int transpile(const String& path, const String16& source, Buffer& out, bool is_jsx,
              bool clean_comment);
// The same without the log: on a syntax error `message` holds the error's message, and
// `detail` (when given) the report for standard error from describe_error.
bool compile_source(const String& path, const String16& source, bool is_jsx, bool clean_comment,
                    Buffer& out, String& message, String* detail = nullptr,
                    SourceMapBuilder* map = nullptr);

enum class SourceMapMode { kNone, kFile, kInline };
// The options a one-file and a folder build share (--clean-comment, --sourcemap,
// --sourcemap=inline): true when `word` is one of them, which is then set.
bool parse_shared_option(const char* word, bool& clean_comment, SourceMapMode& source_map);
// How a source map names its source: the path of SRC relative to the folder of OUT
// (where OUT.map lies), with "/" between the pieces.
String source_name_for_map(const String& source_path, const String& output_path);
// The line appended to an output after its trailer: the map's file name (OUT's name
// with ".map"), or for kInline the map itself as a base64 data URL.
String source_map_link(SourceMapMode mode, const String& map_name, const String& map_text);
// The report of a syntax error for a person: "file:line:column: error: <first line of
// the message>", the source line, a caret under the offending token (at unit `start`),
// and a note naming a refused construct when `hint` is given. The column counts
// characters from the start of the line. `colour` adds terminal colours.
String describe_error(const String& path, const String16& source, const String& message,
                      uint32_t start, const char* hint, bool colour);
// Reads a whole source file and decodes it from UTF-8. On failure `message` holds the
// driver's text for it ("Cannot read <path>: ...").
bool read_source(const String& path, String16& text, String& message);
// The file's bytes, and their decoding (read_source does both a block at a time).
bool read_source_bytes(const String& path, Buffer& bytes, String& message);
String16 decode_source(const Buffer& bytes);
String16 transform_jsx(const String& path, const String16& source, bool clean_comment);
String16 transform_js(const String& path, const String16& source, bool clean_comment);

// Runs the whole program for the given command line; returns the exit status.
int run_driver(int argc, char** argv);

}  // namespace nubrix

#endif
