// A console that keeps the last message it was given and counts them, for loops that
// call the compiler in-process instead of printing what it reports.
#pragma once

#include <string>

#include "utils/console.h"

namespace nubrix {

class LastMessageConsole : public Console {
 public:
  void log(const String& text) override {
    count++;
    last.assign(text.c_str(), text.length());
  }
  void warn(const String& text) override { log(text); }
  void error(const String& text) override { log(text); }
  void print(const String& text) override { log(text); }
  void print_err(const String& text) override { log(text); }
  void clear() override {}

  int count = 0;
  std::string last;
};

}  // namespace nubrix
