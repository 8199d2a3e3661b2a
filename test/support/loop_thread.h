// A framework thread running a run loop that a keep holds open until `finish`, for the
// runtime tests.
#ifndef NUBRIX_TEST_SUPPORT_LOOP_THREAD_H
#define NUBRIX_TEST_SUPPORT_LOOP_THREAD_H

#include <atomic>
#include <thread>

#include "test/support/runtime_test.h"
#include "utils/loop.h"

namespace nubrix_test {

class LoopThread {
 public:
  explicit LoopThread(int64_t keep_alive_us = 0) {
    id_ = nubrix::Thread::spawn(
        [this, keep_alive_us](nubrix::Thread&) {
          nubrix::RunLoop* loop = nubrix::RunLoop::current();
          keep_ = loop->keep_alive("LoopThread");
          loop_.store(loop);
          loop->run(keep_alive_us);
          ended_run_.store(true);
          return 0;
        },
        "loop thread");
    EXPECT_TRUE(wait_until([this] { return loop_.load() != nullptr; }));
  }
  ~LoopThread() { finish(); }
  LoopThread(const LoopThread&) = delete;
  LoopThread& operator=(const LoopThread&) = delete;

  nubrix::RunLoop* loop() const { return loop_.load(); }
  nubrix::KeepLoop* keep() const { return keep_; }
  std::thread::id id() const { return id_; }
  bool ended_run() const { return ended_run_.load(); }
  // Returns once everything posted to the loop before has fired.
  void drain() {
    std::atomic<bool> done{false};
    loop()->post([&](nubrix::SimpleEvent&) { done.store(true); });
    EXPECT_TRUE(wait_until([&] { return done.load(); }));
  }
  // Releases the keep and waits for the thread's end.
  void finish() {
    if (keep_) {
      nubrix::KeepLoop* k = keep_;
      keep_ = nullptr;
      k->release();
    }
    nubrix::Thread::wait_for_end(id_, kWatchdogUs);
  }

 private:
  std::thread::id id_;
  std::atomic<nubrix::RunLoop*> loop_{nullptr};
  std::atomic<bool> ended_run_{false};
  nubrix::KeepLoop* keep_ = nullptr;
};

}  // namespace nubrix_test

#endif
