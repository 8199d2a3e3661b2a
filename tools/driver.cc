#include "tools/driver.h"

#include <unistd.h>
#include <uv.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "jsx/parser.h"
#include "jsx/scanner.h"
#include "tools/project.h"
#include "utils/codec.h"
#include "utils/console.h"
#include "utils/error.h"
#include "utils/fs.h"
#include "utils/path.h"

namespace nubrix {

namespace {

// Colour only for a person at a terminal who has not asked for none.
bool use_colour() {
  return isatty(2) && getenv("NO_COLOR") == nullptr;
}

String16 run_parser(const String& path, const String16& source, bool is_jsx, bool clean_comment) {
  Parser parser(source, path, is_jsx, clean_comment);
  parser.transform();
  return parser.output();
}

}  // namespace

String16 transform_jsx(const String& path, const String16& source, bool clean_comment) {
  return run_parser(path, source, true, clean_comment);
}

String16 transform_js(const String& path, const String16& source, bool clean_comment) {
  return run_parser(path, source, false, clean_comment);
}

String describe_error(const String& path, const String16& source, const String& message,
                      uint32_t start, const char* hint, bool colour) {
  const uint16_t* u = source.data();
  uint32_t n = source.length();
  if (start > n) start = n;
  uint32_t line = 1;
  uint32_t line_start = 0;
  for (uint32_t i = 0; i < start; i++) {
    if (is_line_break_unit(u[i])) {
      line++;
      line_start = i + 1;
    }
  }
  // The byte-order mark is no character of the line.
  if (line_start == 0 && n > 0 && u[0] == 0xFEFF) line_start = start > 0 ? 1 : 0;
  uint32_t line_end = start;
  while (line_end < n && !is_line_break_unit(u[line_end])) line_end++;
  uint32_t shown_end = line_end;
  if (shown_end > line_start && u[shown_end - 1] == '\r') shown_end--;

  // The caret line copies the tabs of the source line so that it lines up; a surrogate
  // pair is one character.
  String caret;
  uint32_t column = 1;
  for (uint32_t i = line_start; i < start; i++) {
    if (u[i] >= 0xDC00 && u[i] <= 0xDFFF && i > line_start && u[i - 1] >= 0xD800 &&
        u[i - 1] <= 0xDBFF) {
      continue;
    }
    caret.push(u[i] == '\t' ? "\t" : " ", 1);
    column++;
  }
  Buffer text = utf16_to_utf8(u + line_start, shown_end - line_start);
  int64_t first_line_length = message.index_of('\n');
  String headline =
      first_line_length < 0 ? message : message.substring(0, (uint32_t)first_line_length);

  const char* bold = colour ? "\x1b[1m" : "";
  const char* red = colour ? "\x1b[1;31m" : "";
  const char* green = colour ? "\x1b[1;32m" : "";
  const char* cyan = colour ? "\x1b[1;36m" : "";
  const char* reset = colour ? "\x1b[0m" : "";
  String out = String::format("%s%s:%u:%u: %serror: %s%s%s\n", bold, path.c_str(), line, column,
                              red, reset, bold, headline.c_str());
  out.push(reset);
  out.push(String(text.data(), text.length()));
  out.push("\n");
  out.push(String::format("%s%s^%s\n", caret.c_str(), green, reset));
  if (hint) out.push(String::format("%snote:%s %s.\n", cyan, reset, hint));
  return out;
}

String source_name_for_map(const String& source_path, const String& output_path) {
  // Both as absolute system paths, split into their pieces.
  auto pieces = [](const String& path) {
    String full(Path::strip_scheme(Path::resolve(path)));
    Array<String> list;
    uint32_t from = 0;
    for (uint32_t i = 0; i <= full.length(); i++) {
      if (i == full.length() || full[i] == '/') {
        if (i > from) list.push(full.substring(from, i));
        from = i + 1;
      }
    }
    return list;
  };
  Array<String> to = pieces(source_path);
  Array<String> from = pieces(output_path);
  // The map sits beside the output: its folder is the output's without the last piece.
  uint32_t from_count = from.length() > 0 ? from.length() - 1 : 0;
  uint32_t common = 0;
  while (common < from_count && common + 1 < to.length() && from[common] == to[common]) {
    common++;
  }
  String result;
  for (uint32_t i = common; i < from_count; i++) result.push("../");
  for (uint32_t i = common; i < to.length(); i++) {
    if (i > common) result.push("/");
    result.push(to[i]);
  }
  return result;
}

String source_map_link(SourceMapMode mode, const String& map_name, const String& map_text) {
  if (mode == SourceMapMode::kInline) {
    Buffer base64 = encode(BASE64, map_text);
    return String("//# sourceMappingURL=data:application/json;charset=utf-8;base64,") +
           String(base64.data(), base64.length()) + String("\n");
  }
  return String("//# sourceMappingURL=") + map_name + String(".map\n");
}

namespace {

// Runs `body` (the transform, and whatever reads its output); on a syntax error
// `message` holds its message and `detail`, when given, the report for a person.
template <typename F>
bool run_reporting(Parser& parser, const String& path, const String16& source, String& message,
                   String* detail, const F& body) {
  try {
    body();
  } catch (const Error& e) {
    message = e.message();
    if (detail)
      *detail = describe_error(path, source, message, parser.error_start(), parser.error_hint(),
                               use_colour());
    return false;
  }
  return true;
}

// A failed compile of the command line: the message on standard output is the one
// tools parse; standard error shows the place.
int report_failure(const String& message, const String& detail) {
  log(message);
  fputs(detail.c_str(), stderr);
  return 1;
}

int report_write_failure(const String& path, const Error& e) {
  log("Cannot write %s: %s", path.c_str(), e.message().c_str());
  return 1;
}

}  // namespace

bool compile_source(const String& path, const String16& source, bool is_jsx, bool clean_comment,
                    Buffer& out, String& message, String* detail, SourceMapBuilder* map) {
  // Same result as encoding transform_jsx/transform_js's joined text, without the
  // joined copy.
  Parser parser(source, path, is_jsx, clean_comment);
  parser.set_source_map(map);
  return run_reporting(parser, path, source, message, detail, [&] {
    parser.transform();
    out = parser.output_utf8();
  });
}

namespace {

// The transpiled text, encoded into the output file a block at a time.
class EncodedOutput : public FileHelper::ChunkSource {
 public:
  explicit EncodedOutput(Utf8PieceEncoder& encoder) : encoder_(encoder) {}
  uint64_t fill(char* block, uint64_t room) override { return encoder_.fill(block, room); }

 private:
  Utf8PieceEncoder& encoder_;
};

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kFreeAtExit = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kFreeAtExit = true;
#else
constexpr bool kFreeAtExit = false;
#endif
#else
constexpr bool kFreeAtExit = false;
#endif

// The one-file run ends the process right after the write, so the normal build leaves
// the parser's structures (a node and a block per output piece, the scanner) to the
// exit instead of freeing them one by one. The sanitizer builds free them, so that
// their leak check stays exact.
struct ParserAtExit {
  Parser* parser;
  ~ParserAtExit() {
    if (kFreeAtExit) destroy_object(parser);
  }
};

// transpile followed by the write of its output, without the whole output in memory:
// the pieces are encoded and written one block at a time.
int compile_to_file(const String& path, const String16& source, bool is_jsx, bool clean_comment,
                    const String& output_path) {
  ParserAtExit held{new Parser(source, path, is_jsx, clean_comment)};
  Parser& parser = *held.parser;
  String message, detail;
  if (!run_reporting(parser, path, source, message, &detail, [&] { parser.transform(); })) {
    return report_failure(message, detail);
  }
  try {
    ArrayBuffer<const uint16_t*> pieces;
    ArrayBuffer<uint32_t> lengths;
    parser.output_pieces(pieces, lengths);
    Utf8PieceEncoder encoder(pieces.data(), lengths.data(), pieces.length());
    EncodedOutput output(encoder);
    FileHelper::write_file_safe_sync(output_path, output);
  } catch (const Error& e) {
    return report_write_failure(output_path, e);
  }
  return 0;
}

}  // namespace

int transpile(const String& path, const String16& source, Buffer& out, bool is_jsx,
              bool clean_comment) {
  String message;
  if (compile_source(path, source, is_jsx, clean_comment, out, message)) return 0;
  log(message);
  return 1;
}

namespace {

String read_failure(const String& path, const Error& e) {
  if (e.code() == UV_EFBIG) {
    return String::format("Cannot read %s: the file is larger than %lld bytes", path.c_str(),
                          (long long)kMaxSourceBytes);
  }
  return String::format("Cannot read %s: %s", path.c_str(), e.message().c_str());
}

}  // namespace

bool read_source_bytes(const String& path, Buffer& bytes, String& message) {
  try {
    bytes = FileHelper::read_file_sync(path, -1, kMaxSourceBytes);
  } catch (const Error& e) {
    message = read_failure(path, e);
    return false;
  }
  return true;
}

String16 decode_source(const Buffer& bytes) {
  // Malformed UTF-8 becomes U+FFFD; text outside the BMP becomes surrogate pairs.
  return String16(utf8_to_utf16(bytes.data(), bytes.length()));
}

bool read_source(const String& path, String16& text, String& message) {
  // Read and decoded a block at a time: the file's bytes are never held whole.
  try {
    text = FileHelper::read_utf8_file_sync(path, kMaxSourceBytes);
  } catch (const Error& e) {
    message = read_failure(path, e);
    return false;
  }
  return true;
}

namespace {

const char kUsage[] =
    "Usage: jsxc SRC OUT [options]\n"
    "       jsxc SRC_DIR OUT_DIR [--clean-comment] [--watch] [--sourcemap[=inline]]\n"
    "\n"
    "Compiles SRC (.js, or .jsx with view markup) into plain JavaScript in OUT.\n"
    "A folder as SRC compiles every source below it into OUT_DIR.\n"
    "\"-\" as SRC reads standard input, \"-\" as OUT writes standard output.\n"
    "\n"
    "Options:\n"
    "  --clean-comment  reduce comments to their line feeds\n"
    "  --jsx            compile the source as the .jsx dialect (standard input, .js)\n"
    "  --sourcemap      also write OUT.map, a source map of OUT\n"
    "  --sourcemap=inline\n"
    "                   put the source map into OUT as a data URL\n"
    "  --watch          folder builds: rebuild on every change\n"
    "  -h, --help       print this help and exit\n"
    "  --version        print the version and exit\n";

struct DriverOptions {
  bool clean_comment = false;
  bool jsx = false;
  SourceMapMode source_map = SourceMapMode::kNone;
};

// The words after SRC and OUT, in any order.
bool parse_options(int argc, char** argv, DriverOptions& options) {
  for (int i = 3; i < argc; i++) {
    if (parse_shared_option(argv[i], options.clean_comment, options.source_map)) continue;
    if (strcmp(argv[i], "--jsx") != 0) return false;
    options.jsx = true;
  }
  return true;
}

}  // namespace

bool parse_shared_option(const char* word, bool& clean_comment, SourceMapMode& source_map) {
  if (strcmp(word, "--clean-comment") == 0) {
    clean_comment = true;
  } else if (strcmp(word, "--sourcemap") == 0) {
    source_map = SourceMapMode::kFile;
  } else if (strcmp(word, "--sourcemap=inline") == 0) {
    source_map = SourceMapMode::kInline;
  } else {
    return false;
  }
  return true;
}

namespace {

bool read_standard_input(Buffer& bytes, String& message) {
  for (;;) {
    char chunk[65536];
    ssize_t n = read(0, chunk, sizeof chunk);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      message = String::format("Cannot read <stdin>: %s", strerror(errno));
      return false;
    }
    if (bytes.length() + n > kMaxSourceBytes) {
      message = String::format("Cannot read <stdin>: the input is larger than %lld bytes",
                               (long long)kMaxSourceBytes);
      return false;
    }
    bytes.append(chunk, (uint32_t)n);
  }
}

bool write_standard_output(const Buffer& out) {
  size_t done = 0;
  while (done < out.length()) {
    ssize_t n = write(1, out.data() + done, out.length() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      log("Cannot write <stdout>: %s", strerror(errno));
      return false;
    }
    done += (size_t)n;
  }
  return true;
}

}  // namespace

int run_driver(int argc, char** argv) {
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      print(String(kUsage));
      return 0;
    }
    if (strcmp(argv[i], "--version") == 0) {
      print(String("jsxc " JSXC_VERSION "\n"));
      return 0;
    }
  }
  if (argc < 3) {
    log("Bad argument.");
    return 1;
  }
  String source_path(argv[1]);
  String output_path(argv[2]);
  bool from_stdin = source_path == String("-");
  bool to_stdout = output_path == String("-");
  if (!from_stdin && !FileHelper::exists_sync(source_path)) {
    log("Bad argument. cannot find %s", source_path.c_str());
    return 1;
  }
  // A folder is a project build: every source below it is compiled into OUT.
  if (!from_stdin && FileHelper::is_directory_sync(source_path)) {
    return run_project_command(argc, argv);
  }

  DriverOptions options;
  if (!parse_options(argc, argv, options)) {
    log("Bad argument.");
    return 1;
  }
  // Messages name standard input "<stdin>".
  String name = from_stdin ? String("<stdin>") : source_path;

  String message;
  String16 source;
  if (from_stdin) {
    Buffer bytes;
    if (!read_standard_input(bytes, message)) {
      log(message);
      return 1;
    }
    source = decode_source(bytes);
  } else if (!read_source(source_path, source, message)) {
    log(message);
    return 1;
  }

  bool is_jsx = options.jsx;
  if (!from_stdin) {
    String ext = Path::extname(source_path);
    if (ext == String(".jsx")) {
      is_jsx = true;
    } else if (ext != String(".js")) {
      log("Bad argument.");
      return 1;
    }
  }

  if (options.source_map == SourceMapMode::kFile && to_stdout) {
    log("Bad argument. --sourcemap needs an output file; use --sourcemap=inline");
    return 1;
  }

  // The common case streams the output into its file a block at a time.
  if (options.source_map == SourceMapMode::kNone && !to_stdout)
    return compile_to_file(name, source, is_jsx, options.clean_comment, output_path);
  Buffer out;
  String detail;
  SourceMapBuilder map;
  SourceMapBuilder* mapping = options.source_map == SourceMapMode::kNone ? nullptr : &map;
  if (!compile_source(name, source, is_jsx, options.clean_comment, out, message, &detail,
                      mapping)) {
    return report_failure(message, detail);
  }
  String map_text;
  if (mapping) {
    String map_source = from_stdin ? name : source_name_for_map(source_path, output_path);
    String map_name = to_stdout ? String() : Path::basename(output_path);
    // The text as compiled: malformed UTF-8 already replaced, so the JSON stays valid.
    Buffer text = utf16_to_utf8(source.data(), source.length());
    map_text = source_map_json(map_name, map_source, String(text.data(), text.length()), map);
    String link = source_map_link(options.source_map, map_name, map_text);
    if (out.length() > 0 && out[out.length() - 1] != '\n') out.append("\n", 1);
    out.append(link.data(), link.length());
  }
  if (to_stdout) return write_standard_output(out) ? 0 : 1;
  // The map first: an output that names its map is never left without one.
  if (options.source_map == SourceMapMode::kFile) {
    String map_path = output_path + String(".map");
    try {
      FileHelper::write_file_safe_sync(map_path, map_text.data(), map_text.length());
    } catch (const Error& e) {
      return report_write_failure(map_path, e);
    }
  }
  try {
    FileHelper::write_file_safe_sync(output_path, out.data(), out.length());
  } catch (const Error& e) {
    return report_write_failure(output_path, e);
  }
  return 0;
}

}  // namespace nubrix
