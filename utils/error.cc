#include "utils/error.h"

#include <uv.h>

namespace nubrix {

Error::Error(int32_t code, const char* fmt, ...) : code_(code) {
  va_list args;
  va_start(args, fmt);
  message_ = String::vformat(fmt, args);
  va_end(args);
}

Error::Error(const char* fmt, ...) : code_(ERR_UNKNOWN) {
  va_list args;
  va_start(args, fmt);
  message_ = String::vformat(fmt, args);
  va_end(args);
}

String Error::to_string() const {
  return String::format("message: %s, code: %d", message().c_str(), code());
}

Error uv_error(int result, const char* path) {
  return Error(result, "%s, %s, %s", uv_err_name(result), uv_strerror(result), path ? path : "");
}

void throw_uv_error(int result, const char* path) {
  throw uv_error(result, path);
}

}  // namespace nubrix
