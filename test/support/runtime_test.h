// Helpers for the runtime tests: waiting on a condition with a watchdog, and a
// console that keeps every logged line (installed before the first test).
#ifndef NUBRIX_TEST_SUPPORT_RUNTIME_TEST_H
#define NUBRIX_TEST_SUPPORT_RUNTIME_TEST_H

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "utils/console.h"

namespace nubrix_test {

// The failure bound of every wait: a condition not met by then fails the test.
constexpr int kWatchdogSeconds = 20;
constexpr int64_t kWatchdogUs = (int64_t)kWatchdogSeconds * 1000000;

template <typename F>
bool wait_until(F done) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(kWatchdogSeconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Keeps every logged line so tests can look for the runtime's diagnostics.
class CaptureConsole : public nubrix::Console {
 public:
  void log(const nubrix::String& text) override {
    std::lock_guard<std::mutex> l(mutex_);
    lines_.push_back(text.c_str());
  }
  int count(const char* text) {
    std::lock_guard<std::mutex> l(mutex_);
    int n = 0;
    for (auto& s : lines_) n += s == text;
    return n;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

inline CaptureConsole* capture = nullptr;

class CaptureEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    capture = new CaptureConsole();
    nubrix::set_console(capture);
  }
};
inline const auto* capture_env = ::testing::AddGlobalTestEnvironment(new CaptureEnvironment());

}  // namespace nubrix_test

#endif
