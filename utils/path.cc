#include "utils/path.h"

#include <errno.h>
#include <unistd.h>
#include <uv.h>

#include <cstdlib>

#include "utils/error.h"

namespace nubrix {

namespace {

const char kFileScheme[] = "file:///";  // 8 bytes
const char kZipScheme[] = "zip:///";    // 7 bytes

// True if `text` begins with `scheme`, its letters compared without regard to case.
bool has_scheme(const char* text, uint32_t length, const char* scheme) {
  uint32_t i = 0;
  for (; scheme[i]; i++) {
    if (i >= length) return false;
    char a = text[i], b = scheme[i];
    if (a >= 'A' && a <= 'Z') a = (char)(a - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

bool has_scheme(const char* text, const char* scheme) {
  return has_scheme(text, (uint32_t)strnlen(text, sizeof(kFileScheme)), scheme);
}

// The text after the last "/" (basename) or before it (dirname); one final "/" is
// ignored first.
String split_last(const String& path, bool want_base) {
  uint32_t end = path.length();
  if (end && path[end - 1] == '/') end--;
  const char* s = path.data();
  int64_t slash = -1;
  for (int64_t i = (int64_t)end - 1; i >= 0; i--) {
    if (s[i] == '/') {
      slash = i;
      break;
    }
  }
  if (slash < 0) return want_base ? path.substring(0, end) : String();
  return want_base ? path.substring((uint32_t)slash + 1, end) : path.substring(0, (uint32_t)slash);
}

// Drops empty and "." pieces and applies ".." pieces; the result has no leading or
// trailing slash, and parent steps above the root are dropped.
String normalize(const String& working) {
  Array<String> pieces = working.split("/");
  Array<bool> keep(pieces.length());
  uint32_t pending = 0;
  for (int64_t i = (int64_t)pieces.length() - 1; i >= 0; i--) {
    const String& p = pieces[(uint32_t)i];
    if (p.is_empty() || p.equals(".")) continue;
    if (p.equals("..")) {
      pending++;
    } else if (pending) {
      pending--;
    } else {
      keep[(uint32_t)i] = true;
    }
  }
  String out;
  bool first = true;
  for (uint32_t i = 0; i < pieces.length(); i++) {
    if (!keep[i]) continue;
    if (!first) out.push('/');
    out.push(pieces[i]);
    first = false;
  }
  return out;
}

}  // namespace

bool Path::is_absolute(const String& path) {
  return (path.length() && path[0] == '/') || is_zip_url(path) || is_file_url(path);
}

bool Path::is_zip_url(const String& path) {
  return has_scheme(path.data(), path.length(), kZipScheme);
}

bool Path::is_file_url(const String& path) {
  return has_scheme(path.data(), path.length(), kFileScheme);
}

const char* Path::strip_scheme(const char* path) {
  if (!path) return path;
  if (has_scheme(path, kZipScheme)) return path + 6;
  if (has_scheme(path, kFileScheme)) return path + 7;
  return path;
}

String Path::strip_scheme(const String& path) {
  if (is_zip_url(path)) return path.substring(6, path.length());
  if (is_file_url(path)) return path.substring(7, path.length());
  return path;
}

String Path::cwd() {
  // getcwd fails with ERANGE while the buffer is too small: grow it.
  size_t size = 1024;
  for (;;) {
    char* buf = (char*)DefaultAllocator::alloc(size);
    if (getcwd(buf, size)) {
      String out = String("file://") + String(buf);
      free(buf);
      return out;
    }
    int err = errno;
    free(buf);
    if (err != ERANGE || size >= ((size_t)1 << 30)) {
      throw_uv_error(uv_translate_sys_error(err), "cannot read the current working directory");
    }
    size *= 2;
  }
}

bool Path::chdir(const String& path) {
  String target;
  try {
    target = strip_scheme(resolve(path));
  } catch (const Error&) {
    return false;  // a relative path without a readable working directory
  }
  return ::chdir(target.c_str()) == 0;
}

String Path::basename(const String& path) {
  return split_last(path, true);
}

String Path::dirname(const String& path) {
  return split_last(path, false);
}

String Path::extname(const String& path) {
  String base = basename(path);
  int64_t dot = base.last_index_of('.');
  return dot < 0 ? String() : base.substring((uint32_t)dot, base.length());
}

String Path::resolve(const String& path) {
  const char* prefix = kFileScheme;
  String working;
  if (path.length() && path[0] == '/') {
    working = path;
  } else if (path.length() > 7 && is_zip_url(path)) {
    prefix = kZipScheme;
    working = path.substring(7, path.length());
  } else if (path.length() > 7 && is_file_url(path)) {
    working = path.substring(8, path.length());
  } else {
    // Relative: below the working directory (cwd() is "file:///...").
    working = cwd().substring(8, UINT32_MAX);
    working.push('/');
    working.push(path);
  }
  return String(prefix) + normalize(working);
}

String Path::format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  String text = String::vformat(fmt, args);
  va_end(args);
  return resolve(text);
}

}  // namespace nubrix
