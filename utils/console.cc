#include "utils/console.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "utils/error.h"

namespace nubrix {

namespace {
Console* current_console = nullptr;
}

void Console::log(const String& text) {
  ::printf("%s\n", text.c_str());
}
void Console::warn(const String& text) {
  ::printf("Warning: %s\n", text.c_str());
}
// Errors and error prints go to standard output too, and are flushed at once. Plain
// stdio: iostreams would cost every run their start-up.
void Console::error(const String& text) {
  ::fputs(text.c_str(), stdout);
  ::fputc('\n', stdout);
  ::fflush(stdout);
}
void Console::print(const String& text) {
  ::printf("%s", text.c_str());
}
void Console::print_err(const String& text) {
  ::fputs(text.c_str(), stdout);
  ::fflush(stdout);
}
void Console::clear() {}

void set_console(Console* console) {
  if (console == current_console) return;
  delete current_console;
  current_console = console;
}

Console* get_console() {
  if (!current_console) current_console = new Console();
  return current_console;
}

void log(const String& text) {
  get_console()->log(text);
}
void log(const char* text) {
  get_console()->log(String(text));
}
void log(const String16& text) {
  get_console()->log(String(text));
}
void log(int32_t value) {
  log(String::format("%d", value));
}
void log(uint32_t value) {
  log(String::format("%u", value));
}
void log(int64_t value) {
  log(String::format("%ld", (long)value));
}
void log(uint64_t value) {
  log(String::format("%lu", (unsigned long)value));
}
void log(int16_t value) {
  log(String::format("%d", (int)value));
}
void log(uint16_t value) {
  log(String::format("%u", (unsigned)value));
}
void log(int8_t value) {
  log(String::format("%d", (int)value));
}
void log(uint8_t value) {
  log(String::format("%u", (unsigned)value));
}
void log(float value) {
  log(String::format("%f", (double)value));
}
void log(double value) {
  log(String::format("%lf", value));
}
void log(bool value) {
  log(String(value ? "true" : "false"));
}
void log(const Error& err) {
  log(String::format("Error: %d \n message:\n\t%s", err.code(), err.message().c_str()));
}

void log_current_exception() {
  try {
    throw;
  } catch (const Error& e) {
    log(e);
  } catch (const std::exception& e) {
    log(Error(ERR_UNKNOWN, String(e.what())));
  } catch (...) {
    log(Error());
  }
}
void warn(const String& text) {
  get_console()->warn(text);
}
void error(const String& text) {
  get_console()->error(text);
}
void print(const String& text) {
  get_console()->print(text);
}
void print_err(const String& text) {
  get_console()->print_err(text);
}
void clear() {
  get_console()->clear();
}

void stack_trace() {
  void* frames[100];
  int n = backtrace(frames, 100);
  ::printf("\n==== C stack trace ===============================\n\n");
  if (n <= 0) {
    ::printf("(empty)\n");
    return;
  }
  for (int i = 1; i < n; i++) {
    ::printf("%2d: ", i);
    Dl_info info;
    if (dladdr(frames[i], &info) && info.dli_sname) {
      int status = 0;
      char* demangled = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
      ::printf("%s\n", status == 0 && demangled ? demangled : info.dli_sname);
      ::free(demangled);
    } else {
      ::printf("%p\n", frames[i]);
    }
  }
}

void fatal(const char* file, int line, const char* func, const char* fmt, ...) {
  fflush(stdout);
  fflush(stdout);
  if (fmt) {
    va_list args;
    va_start(args, fmt);
    String message = String::vformat(fmt, args);
    va_end(args);
    get_console()->print_err(String("\n\n\n"));
    get_console()->error(message);
  }
  ::printf("#\n# Fatal error in %s, line %d, func %s\n# \n\n", file, line, func);
  stack_trace();
  fflush(stdout);
  fflush(stdout);
  __builtin_trap();
}

}  // namespace nubrix
