// Error is the framework's one exception type and error value: a 32-bit code and a
// message. Failed libuv requests become Errors whose code is the libuv result.
#ifndef NUBRIX_UTILS_ERROR_H
#define NUBRIX_UTILS_ERROR_H

#include <cstdint>

#include "utils/object.h"
#include "utils/string.h"

namespace nubrix {

// Codes of the framework's own errors (libuv's are negative errno values).
enum ErrorCode : int32_t {
  ERR_UNKNOWN = -1,
  ERR_SYNTAX = -10005,
  ERR_FILE_ALREADY_OPEN = -10007,
  ERR_FILE_NOT_OPEN = -10008,
  ERR_OUT_OF_MEMORY = -10012,
  ERR_LENGTH_OVERFLOW = -10013,
  ERR_BAD_ARGUMENT = -10014,
  ERR_FILE_OPENING = -10028,
};

class Error : public Object {
 public:
  Error() : code_(ERR_UNKNOWN), message_("unknown exception") {}
  Error(int32_t code, const String& message) : code_(code), message_(message) {}
  explicit Error(const String& message) : code_(ERR_UNKNOWN), message_(message) {}
  Error(int32_t code, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
  explicit Error(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  Error(const Error& o) : Object(), code_(o.code()), message_(o.message()) {}
  Error& operator=(const Error& o) {
    code_ = o.code();
    message_ = o.message();
    return *this;
  }
  ~Error() override = default;

  virtual String message() const { return message_; }
  virtual int32_t code() const { return code_; }
  void set_message(const String& message) { message_ = message; }
  void set_code(int32_t code) { code_ = code; }

  // "message: <text>, code: <code>"
  String to_string() const override;

 private:
  int32_t code_;
  String message_;
};

// Throws the Error for a failed libuv request: the code is the result, the message
// "<name>, <description>, <path>".
[[noreturn]] void throw_uv_error(int result, const char* path = nullptr);
Error uv_error(int result, const char* path = nullptr);

}  // namespace nubrix

#endif
