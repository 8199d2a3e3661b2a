// Framework threads: spawn, sleep, awaken, abort, wait for end, and process exit, on
// real threads. Waits are on conditions, bounded by a watchdog.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "test/support/runtime_test.h"
#include "utils/console.h"
#include "utils/loop.h"
#include "utils/util.h"

using namespace nubrix;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

namespace {

using nubrix_test::capture;
using nubrix_test::kWatchdogUs;
using nubrix_test::wait_until;

const char kNoHandle[] =
    "Cannot find current nubrix::Thread handle, use std::this_thread::sleep_for()";
const char kAborted[] = "Thread aborted, cannot sleep";

TEST(Thread, SpawnedBodiesSeeTheirOwnRecord) {
  constexpr int kThreads = 200;
  std::vector<std::thread::id> ids(kThreads);
  std::atomic<int> good{0}, ended{0};
  for (int i = 0; i < kThreads; i++) {
    String name = String::format("worker %d", i);
    ids[i] = Thread::spawn(
        [&, name](Thread& t) {
          if (Thread::current() == &t && t.id() == std::this_thread::get_id() && t.name() == name &&
              !t.is_abort() && Thread::current_id() == t.id())
            good++;
          ended++;
          return 0;
        },
        name);
    ASSERT_NE(ids[i], std::thread::id());
  }
  for (auto id : ids) Thread::wait_for_end(id, kWatchdogUs);
  EXPECT_EQ(ended.load(), kThreads);
  EXPECT_EQ(good.load(), kThreads);
  EXPECT_EQ(Thread::current(), nullptr);  // the test's own thread has no record
}

TEST(Thread, SleepAwakenAbort) {
  std::atomic<int> wakeups{0};
  std::atomic<bool> quit{false};
  std::atomic<int> logged_by_last_sleep{-1};
  std::thread::id id = Thread::spawn([&](Thread& t) {
    while (!t.is_abort()) {
      Thread::sleep(0);  // until awakened (a spurious wake-up also ends it)
      wakeups++;
    }
    // The abort may also have met the sleep above (it came between the test and the
    // sleep): only this sleep's own log is counted.
    int before_last = capture->count(kAborted);
    Thread::sleep(600000);  // aborted: logs and returns at once
    logged_by_last_sleep.store(capture->count(kAborted) - before_last);
    quit.store(true);
    return 0;
  });
  for (int i = 1; i <= 20; i++) {
    // Awaken until the sleeper has counted one more wake-up.
    ASSERT_TRUE(wait_until([&] {
      Thread::awaken(id);
      return wakeups.load() >= i;
    }));
  }
  auto start = steady_clock::now();
  Thread::abort(id);
  Thread::wait_for_end(id, kWatchdogUs);
  EXPECT_TRUE(quit.load());
  EXPECT_LT(steady_clock::now() - start, std::chrono::milliseconds(550));
  EXPECT_EQ(logged_by_last_sleep.load(), 1);
}

TEST(Thread, ShortSleepIgnoresTheRecord) {
  int before = capture->count(kAborted);
  std::atomic<bool> slept{false}, started{false};
  std::thread::id id = Thread::spawn([&](Thread& t) {
    started.store(true);
    wait_until([&] { return t.is_abort(); });
    auto start = steady_clock::now();
    Thread::sleep(20000);  // short: sleeps even though aborted, logs nothing
    slept.store(steady_clock::now() - start >= std::chrono::milliseconds(20));
    return 0;
  });
  ASSERT_TRUE(wait_until([&] { return started.load(); }));
  Thread::abort(id);
  Thread::wait_for_end(id, kWatchdogUs);
  EXPECT_TRUE(slept.load());
  EXPECT_EQ(capture->count(kAborted), before);
}

TEST(Thread, SleepWithoutARecord) {
  int before = capture->count(kNoHandle);
  auto start = steady_clock::now();
  Thread::sleep(0);
  EXPECT_LT(steady_clock::now() - start, std::chrono::milliseconds(400));
  EXPECT_EQ(capture->count(kNoHandle), before + 1);
}

TEST(Thread, AwakenOfANonSleeperHasNoLastingEffect) {
  std::atomic<bool> ready{false}, go{false};
  std::atomic<int64_t> slept_us{0};
  std::thread::id id = Thread::spawn([&](Thread&) {
    ready.store(true);
    wait_until([&] { return go.load(); });
    auto start = steady_clock::now();
    Thread::sleep(600000);
    slept_us.store(
        std::chrono::duration_cast<std::chrono::microseconds>(steady_clock::now() - start).count());
    return 0;
  });
  ASSERT_TRUE(wait_until([&] { return ready.load(); }));
  Thread::awaken(id);  // not sleeping yet
  go.store(true);
  Thread::wait_for_end(id, kWatchdogUs);
  EXPECT_GE(slept_us.load(), 590000);
}

TEST(Thread, WaitForEndReturnsAfterFunctionAndLoopAreGone) {
  for (int round = 0; round < 100; round++) {
    std::atomic<bool> fn_gone{false}, loop_gone{false}, wrong{false};
    struct Marker {
      std::atomic<bool>* flag;
      ~Marker() { flag->store(true); }
    };
    auto marker = std::make_shared<Marker>(Marker{&fn_gone});
    std::thread::id id = Thread::spawn([marker, &loop_gone, &wrong](Thread&) {
      RunLoop* loop = RunLoop::current();
      // Released when the loop is destroyed; current() must still work then.
      struct LoopMarker {
        std::atomic<bool>* flag;
        std::atomic<bool>* wrong;
        ~LoopMarker() {
          if (Thread::current() == nullptr) wrong->store(true);
          flag->store(true);
        }
      };
      auto lm = std::make_shared<LoopMarker>(LoopMarker{&loop_gone, &wrong});
      loop->post([lm](SimpleEvent&) {});
      return 0;
    });
    marker.reset();
    Thread::wait_for_end(id, kWatchdogUs);
    ASSERT_TRUE(fn_gone.load()) << "round " << round;
    ASSERT_TRUE(loop_gone.load()) << "round " << round;
    ASSERT_FALSE(wrong.load());
  }
}

TEST(Thread, WaitForEndEdgeCases) {
  // Own id and unknown ids return at once.
  std::atomic<bool> own_returned{false};
  std::thread::id id = Thread::spawn([&](Thread& t) {
    Thread::wait_for_end(t.id(), 0);
    own_returned.store(true);
    return 0;
  });
  Thread::wait_for_end(id, kWatchdogUs);
  EXPECT_TRUE(own_returned.load());
  Thread::wait_for_end(id, 0);  // ended: unknown now
  Thread::abort(id);
  Thread::awaken(id);

  // A timeout ends the wait for a thread that goes on.
  std::atomic<bool> quit{false};
  id = Thread::spawn([&](Thread&) {
    wait_until([&] { return quit.load(); });
    return 0;
  });
  auto start = steady_clock::now();
  Thread::wait_for_end(id, 50000);
  EXPECT_GE(steady_clock::now() - start, std::chrono::milliseconds(49));
  quit.store(true);
  Thread::wait_for_end(id, kWatchdogUs);
}

TEST(Thread, AbortBeforeRunEndsTheLoop) {
  // Whenever the abort lands, before or during run, the kept loop ends.
  for (int round = 0; round < 200; round++) {
    std::atomic<bool> ready{false};
    std::thread::id id = Thread::spawn([&](Thread&) {
      RunLoop* loop = RunLoop::current();
      KeepLoop* keep = loop->keep_alive("kept");
      ready.store(true);
      loop->run(0);
      keep->release();
      return 0;
    });
    ASSERT_TRUE(wait_until([&] { return ready.load(); }));
    Thread::abort(id);
    auto start = steady_clock::now();
    Thread::wait_for_end(id, kWatchdogUs);
    ASSERT_LT(steady_clock::now() - start, std::chrono::seconds(10)) << "round " << round;
  }
}

// A timeout too large for the clock means no limit: the sleep lasts until awakened
// and the wait until the thread's end, instead of returning at once.
TEST(Thread, TimeoutsTooLargeForTheClockMeanNoLimit) {
  std::atomic<bool> slept{false}, release{false}, waited{false};
  std::thread::id sleeper = Thread::spawn([&](Thread&) {
    Thread::sleep(INT64_MAX / 2);
    slept.store(true);
    return 0;
  });
  std::thread::id blocker = Thread::spawn([&](Thread&) {
    wait_until([&] { return release.load(); });
    return 0;
  });
  std::thread waiter([&] {
    Thread::wait_for_end(blocker, INT64_MAX);
    waited.store(true);
  });
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_FALSE(slept.load());
  EXPECT_FALSE(waited.load());
  // The sleeper may not have begun its wait yet when first awakened.
  EXPECT_TRUE(wait_until([&] {
    Thread::awaken(sleeper);
    return slept.load();
  }));
  release.store(true);
  waiter.join();
  EXPECT_TRUE(waited.load());
  Thread::wait_for_end(sleeper, kWatchdogUs);
}

// Each of these runs in a fresh process (the threadsafe death-test style re-executes
// the program).
class ThreadExitDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(ThreadExitDeathTest, FirstIdsAreTenThenEleven) {
  EXPECT_EXIT(
      {
        uint32_t a = iid32();
        uint32_t b = iid32();
        _exit(a == 10 && b == 11 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(ThreadExitDeathTest, ThreadsIgnoringAbortDelayExitByAboutOneSecondEach) {
  auto start = steady_clock::now();
  EXPECT_EXIT(
      {
        static std::atomic<int> started{0};
        for (int i = 0; i < 2; i++) {
          Thread::spawn([](Thread&) {
            started++;
            for (;;) std::this_thread::sleep_for(milliseconds(5));
            return 0;
          });
        }
        // Bodies that have not started when the exit begins are skipped: wait for both.
        wait_until([] { return started.load() == 2; });
        exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  auto took = steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(1900));
  EXPECT_LT(took, std::chrono::seconds(12));
}

int hook_calls = 0;
int add_one(int code) {
  hook_calls++;
  return code + 1;
}
int times_two(int code) {
  return code * 2;
}

TEST_F(ThreadExitDeathTest, ExitRunsHooksOnceAndEndsWithTheirCode) {
  EXPECT_EXIT(
      {
        Thread::Inl::set_exit_hooks(add_one, times_two);
        std::thread a([] { Thread::Inl::exit(5, false); });
        std::thread b([] { Thread::Inl::exit(5, false); });
        a.join();
        b.join();
        Thread::Inl::exit(5, false);  // a later call does nothing
        if (hook_calls != 1 || !Thread::is_process_exit()) _exit(1);
        // Exiting: nothing is spawned any more.
        _exit(Thread::spawn([](Thread&) { return 0; }) == std::thread::id() ? 0 : 2);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(
      {
        Thread::Inl::set_exit_hooks(add_one, times_two);
        Thread::Inl::exit(3);
        _exit(1);
      },
      ::testing::ExitedWithCode(8), "");
}

// A pool job that ends the process does not wait out the one-second bound: the loop
// that submitted it does not wait for it while the process exits. The time is taken
// inside the child, from the job's start to the end of the exit.
std::atomic<int64_t> exit_started_us{0};
void check_exit_time() {
  _exit(time_monotonic() - exit_started_us.load() < 800000 ? 6 : 1);
}

TEST_F(ThreadExitDeathTest, ExitFromAPoolJobIsPrompt) {
  EXPECT_EXIT(
      {
        atexit(check_exit_time);
        Thread::spawn([](Thread&) {
          RunLoop* loop = RunLoop::current();
          loop->work([](SimpleEvent&) {
            exit_started_us.store(time_monotonic());
            Thread::Inl::exit(6);
          });
          loop->run(0);
          return 0;
        });
        for (;;) std::this_thread::sleep_for(milliseconds(5));
      },
      ::testing::ExitedWithCode(6), "");
}

// The process ends with the code given, through the normal exit (atexit handlers and
// libuv's own teardown, which joins the pool threads, the caller's among them).
TEST_F(ThreadExitDeathTest, ExitFromAPoolJobEndsWithItsCode) {
  EXPECT_EXIT(
      {
        Thread::spawn([](Thread&) {
          RunLoop* loop = RunLoop::current();
          loop->work([](SimpleEvent&) { Thread::Inl::exit(7); });
          loop->run(0);
          return 0;
        });
        for (;;) std::this_thread::sleep_for(milliseconds(5));
      },
      ::testing::ExitedWithCode(7), "");
}

TEST_F(ThreadExitDeathTest, ExitFromTheMainLoopIsPostedToIt) {
  EXPECT_EXIT(
      {
        Thread::spawn([](Thread&) {
          RunLoop* loop = RunLoop::current();
          KeepLoop* keep = loop->keep_alive("main");
          loop->post([](SimpleEvent&) {
            if (!Thread::is_main_thread()) _exit(1);
            Thread::Inl::exit(4);
            if (Thread::is_process_exit()) _exit(2);  // must not have run yet
          });
          loop->run(0);
          keep->release();
          return 0;
        });
        for (;;) std::this_thread::sleep_for(milliseconds(5));
      },
      ::testing::ExitedWithCode(4), "");
}

}  // namespace
