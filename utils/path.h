// Path gives every file path one canonical, URL-like form: "file:///" followed by an
// absolute, normalised path ("zip:///" paths keep their own scheme). `resolve` turns
// relative paths, absolute paths and scheme-prefixed paths into that form;
// `strip_scheme` turns it back into a system path just before a system call.
//
// Scheme letters are compared without regard to case ("FILE:///a" is a file URL);
// the colon and the three slashes must match exactly. Backslashes are ordinary bytes.
#ifndef NUBRIX_UTILS_PATH_H
#define NUBRIX_UTILS_PATH_H

#include "utils/string.h"

namespace nubrix {

class Path {
 public:
  // True if the path begins with "/", "file:///" or "zip:///".
  [[nodiscard]] static bool is_absolute(const String& path);
  [[nodiscard]] static bool is_zip_url(const String& path);
  [[nodiscard]] static bool is_file_url(const String& path);

  // The system path inside a URL: "file:///a/b" and "zip:///a/b" both give "/a/b"
  // (a pointer into the same text); any other text is returned unchanged.
  [[nodiscard]] static const char* strip_scheme(const char* path);
  [[nodiscard]] static String strip_scheme(const String& path);

  // "file://" followed by the working directory. Throws an Error when the working
  // directory cannot be read (for example after it was removed).
  [[nodiscard]] static String cwd();
  // Changes the working directory to the resolved path; false on failure.
  static bool chdir(const String& path);

  // One final "/" is ignored; then the text after / before the last "/".
  // basename("/a/b/") is "b", dirname("/a/b/") is "/a", dirname("/a") is "".
  [[nodiscard]] static String basename(const String& path);
  [[nodiscard]] static String dirname(const String& path);
  // From the last "." of the base name, the dot included; "" without a dot.
  [[nodiscard]] static String extname(const String& path);

  // The canonical form: "file:///" or "zip:///" followed by the normalised path
  // ("." and empty pieces dropped, ".." removes the piece before it, never rising
  // above the root). A relative path is taken from the working directory; when that
  // cannot be read, an Error is thrown.
  [[nodiscard]] static String resolve(const String& path);
  // resolve() of the printf-formatted text.
  [[nodiscard]] static String format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
};

}  // namespace nubrix

#endif
