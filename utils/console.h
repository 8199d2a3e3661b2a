// Console is the one replaceable sink for everything the system prints, reached
// through the global log/warn/error/print/print_err/clear functions. The default
// console writes everything, errors included, to standard output. This header also
// holds `fatal`, the report for broken internal invariants.
#ifndef NUBRIX_UTILS_CONSOLE_H
#define NUBRIX_UTILS_CONSOLE_H

#include <cstdint>

#include "utils/string.h"

namespace nubrix {

class Error;

class Console {
 public:
  virtual ~Console() = default;
  virtual void log(const String& text);
  virtual void warn(const String& text);
  virtual void error(const String& text);
  virtual void print(const String& text);
  virtual void print_err(const String& text);
  virtual void clear();
};

// Installs a console; the previous one is deleted. Installing the current one again
// does nothing.
void set_console(Console* console);
// The current console, created on first use.
Console* get_console();

void log(const String& text);
void log(const char* text);
void log(const String16& text);
void log(int32_t value);
void log(uint32_t value);
void log(int64_t value);
void log(uint64_t value);
void log(int16_t value);
void log(uint16_t value);
void log(int8_t value);
void log(uint8_t value);
void log(float value);
void log(double value);
void log(bool value);
void log(const Error& error);
// Logs the exception being handled; call it in a `catch (...)` block. An Error is
// logged as log(Error) does, a standard exception by its what(), anything else as an
// unknown exception. For code that runs below C frames (libuv's), where nothing could
// catch it.
void log_current_exception();
// Calls `f`; an exception it throws is logged (log_current_exception), not passed on.
template <typename F>
void call_logging_exceptions(const F& f) {
  try {
    f();
  } catch (...) {
    log_current_exception();
  }
}
void warn(const String& text);
void error(const String& text);
void print(const String& text);
void print_err(const String& text);
void clear();

// Formatted forms: a printf format followed by at least one argument.
template <typename A, typename... Args>
void log(const char* fmt, A a, Args... args) {
  log(String::format(fmt, a, args...));
}
template <typename A, typename... Args>
void warn(const char* fmt, A a, Args... args) {
  warn(String::format(fmt, a, args...));
}
template <typename A, typename... Args>
void error(const char* fmt, A a, Args... args) {
  error(String::format(fmt, a, args...));
}
template <typename A, typename... Args>
void print(const char* fmt, A a, Args... args) {
  print(String::format(fmt, a, args...));
}
template <typename A, typename... Args>
void print_err(const char* fmt, A a, Args... args) {
  print_err(String::format(fmt, a, args...));
}
// "<tag> " through print, then the formatted message through log.
template <typename... Args>
void log_tag(const char* tag, const char* fmt, Args... args) {
  print(String::format("%s ", tag));
  log(String::format(fmt, args...));
}

// Prints the fatal-error banner with the framework source file, line and function,
// then the C stack trace, and stops the process with a trap.
[[noreturn]] void fatal(const char* file, int line, const char* func, const char* fmt = nullptr,
                        ...) __attribute__((format(printf, 4, 5)));
void stack_trace();

}  // namespace nubrix

#endif
