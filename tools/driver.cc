#include "tools/driver.h"

#include <uv.h>

#include <cstring>

#include "jsx/parser.h"
#include "tools/project.h"
#include "utils/codec.h"
#include "utils/console.h"
#include "utils/error.h"
#include "utils/fs.h"
#include "utils/path.h"

namespace nubrix {

namespace {

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

bool compile_source(const String& path, const String16& source, bool is_jsx, bool clean_comment,
                    Buffer& out, String& message) {
  try {
    // Same result as encoding transform_jsx/transform_js's joined text, without
    // the joined copy.
    Parser parser(source, path, is_jsx, clean_comment);
    parser.transform();
    out = parser.output_utf8();
  } catch (const Error& e) {
    message = e.message();
    return false;
  }
  return true;
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
  bool writing = false;
  try {
    ParserAtExit held{new Parser(source, path, is_jsx, clean_comment)};
    Parser& parser = *held.parser;
    parser.transform();
    ArrayBuffer<const uint16_t*> pieces;
    ArrayBuffer<uint32_t> lengths;
    parser.output_pieces(pieces, lengths);
    Utf8PieceEncoder encoder(pieces.data(), lengths.data(), pieces.length());
    EncodedOutput output(encoder);
    writing = true;
    FileHelper::write_file_safe_sync(output_path, output);
  } catch (const Error& e) {
    if (writing) {
      log("Cannot write %s: %s", output_path.c_str(), e.message().c_str());
    } else {
      log(e.message());
    }
    return 1;
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

bool read_source_bytes(const String& path, Buffer& bytes, String& message) {
  try {
    bytes = FileHelper::read_file_sync(path, -1, kMaxSourceBytes);
  } catch (const Error& e) {
    if (e.code() == UV_EFBIG) {
      message = String::format("Cannot read %s: the file is larger than %lld bytes", path.c_str(),
                               (long long)kMaxSourceBytes);
    } else {
      message = String::format("Cannot read %s: %s", path.c_str(), e.message().c_str());
    }
    return false;
  }
  return true;
}

String16 decode_source(const Buffer& bytes) {
  // Malformed UTF-8 becomes U+FFFD; text outside the BMP becomes surrogate pairs.
  return String16(utf8_to_utf16(bytes.data(), bytes.length()));
}

bool read_source(const String& path, String16& text, String& message) {
  Buffer bytes;
  if (!read_source_bytes(path, bytes, message)) return false;
  text = decode_source(bytes);
  return true;
}

int run_driver(int argc, char** argv) {
  if (argc < 3) {
    log("Bad argument.");
    return 1;
  }
  String source_path(argv[1]);
  String output_path(argv[2]);
  if (!FileHelper::exists_sync(source_path)) {
    log("Bad argument. cannot find %s", source_path.c_str());
    return 1;
  }
  // A folder is a project build: every source below it is compiled into OUT.
  if (FileHelper::is_directory_sync(source_path)) return run_project_command(argc, argv);

  String ext = Path::extname(source_path);
  bool clean_comment = argc > 3 && strcmp(argv[3], "--clean-comment") == 0;

  String16 source;
  String message;
  if (!read_source(source_path, source, message)) {
    log(message);
    return 1;
  }

  bool is_jsx;
  if (ext == String(".js")) {
    is_jsx = false;
  } else if (ext == String(".jsx")) {
    is_jsx = true;
  } else {
    log("Bad argument.");
    return 1;
  }

  return compile_to_file(source_path, source, is_jsx, clean_comment, output_path);
}

}  // namespace nubrix
