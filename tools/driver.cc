#include "tools/driver.h"

#include <uv.h>

#include <cstring>

#include "jsx/parser.h"
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

int transpile(const String& path, const String16& source, Buffer& out, bool is_jsx,
              bool clean_comment) {
  try {
    // Same result as encoding transform_jsx/transform_js's joined text, without
    // the joined copy.
    Parser parser(source, path, is_jsx, clean_comment);
    parser.transform();
    out = parser.output_utf8();
  } catch (const Error& e) {
    log(e.message());
    return 1;
  }
  return 0;
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
  String ext = Path::extname(source_path);
  bool clean_comment = argc > 3 && strcmp(argv[3], "--clean-comment") == 0;

  String16 source;
  try {
    Buffer bytes = FileHelper::read_file_sync(source_path, -1, kMaxSourceBytes);
    // Malformed UTF-8 becomes U+FFFD; text outside the BMP becomes surrogate pairs.
    source = String16(utf8_to_utf16(bytes.data(), bytes.length()));
  } catch (const Error& e) {
    if (e.code() == UV_EFBIG) {
      log("Cannot read %s: the file is larger than %lld bytes", source_path.c_str(),
          (long long)kMaxSourceBytes);
    } else {
      log("Cannot read %s: %s", source_path.c_str(), e.message().c_str());
    }
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

  Buffer out;
  if (transpile(source_path, source, out, is_jsx, clean_comment) != 0) return 1;
  try {
    FileHelper::write_file_safe_sync(output_path, out.data(), out.length());
  } catch (const Error& e) {
    log("Cannot write %s: %s", output_path.c_str(), e.message().c_str());
    return 1;
  }
  return 0;
}

}  // namespace nubrix
