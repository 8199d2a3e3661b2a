// Run loops on real framework threads and real libuv loops: ordering, delays,
// cancellation inside a dispatch, keeps, post_sync in every ending, thread-pool work,
// run(0) racing posts, keep-alive, async_callback. Waits are on conditions, bounded by a
// watchdog; racy scenarios repeat many times.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "test/support/fatal_test.h"
#include "test/support/loop_thread.h"
#include "test/support/runtime_test.h"
#include "utils/console.h"
#include "utils/loop.h"
#include "utils/util.h"

using namespace nubrix;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

namespace {

// Four pool threads, whatever the environment says (read when the pool starts).
const bool pool_size_set = (setenv("UV_THREADPOOL_SIZE", "4", 1), true);

using nubrix_test::capture;
using nubrix_test::kWatchdogUs;
using nubrix_test::LoopThread;
using nubrix_test::wait_until;

// Blocks the loop inside one message until released.
class Blocker {
 public:
  void post_to(RunLoop* loop) {
    loop->post([this](SimpleEvent&) {
      entered_.store(true);
      wait_until([this] { return released_.load(); });
      left_.store(true);
    });
    EXPECT_TRUE(wait_until([this] { return entered_.load(); }));
  }
  // Lets the message end and waits until it has stopped using this object.
  void release() {
    released_.store(true);
    EXPECT_TRUE(wait_until([this] { return left_.load(); }));
  }
  ~Blocker() {
    if (entered_.load() && !released_.load()) release();
  }

 private:
  std::atomic<bool> entered_{false};
  std::atomic<bool> released_{false};
  std::atomic<bool> left_{false};
};

// An object that counts its destruction.
class Counted : public Reference {
 public:
  explicit Counted(std::atomic<int>* ends) : ends_(ends) {}
  ~Counted() override { ends_->fetch_add(1); }

 private:
  std::atomic<int>* ends_;
};

TEST(RunLoop, TwoProducersKeepTheirOrder) {
  constexpr int kEach = 50000;
  LoopThread lt;
  RunLoop* loop = lt.loop();
  std::vector<int> last(2, -1);
  std::atomic<int> received{0}, disorder{0};
  auto producer = [&](int who, PostMessage* target) {
    for (int i = 0; i < kEach; i++) {
      uint32_t id = target->post([&, who, i](SimpleEvent&) {
        if (i != last[who] + 1) disorder++;
        last[who] = i;
        received++;
      });
      if (id == 0) disorder++;
    }
  };
  KeepLoop* keep = loop->keep_alive("producer");
  std::thread a(producer, 0, loop), b(producer, 1, keep);
  a.join();
  b.join();
  EXPECT_TRUE(wait_until([&] { return received.load() == 2 * kEach; }));
  EXPECT_EQ(disorder.load(), 0);
  keep->release();
}

// The loop's mutex excludes, and a holder that keeps it long (past the takers' spin)
// sends them to sleep: each must get it once it is free, none left asleep.
TEST(LoopMutex, ExcludesAndLetsEverySleeperIn) {
  constexpr int kTakers = 4, kEach = 20000;
  LoopMutex m;
  int64_t inside = 0;  // plain: guarded by the mutex alone
  std::atomic<int> done{0};
  for (int round = 0; round < 3; round++) {
    m.lock();
    std::vector<std::thread> takers;
    for (int t = 0; t < kTakers; t++) {
      takers.emplace_back([&] {
        for (int i = 0; i < kEach; i++) {
          std::lock_guard<LoopMutex> l(m);
          inside++;
        }
        done++;
      });
    }
    std::this_thread::sleep_for(milliseconds(30));  // every taker is asleep by now
    inside++;
    m.unlock();
    EXPECT_TRUE(wait_until([&] { return done.load() == kTakers * (round + 1); }));
    for (auto& t : takers) t.join();
  }
  EXPECT_EQ(inside, 3 * (kTakers * kEach + 1));
  EXPECT_TRUE(m.try_lock());
  EXPECT_FALSE(m.try_lock());
  m.unlock();
}

TEST(RunLoop, DelayedMessageDoesNotBlockAndKeepsItsPlace) {
  LoopThread lt;
  RunLoop* loop = lt.loop();
  std::mutex m;
  std::vector<char> order;
  auto mark = [&](char c) {
    return Callback([&, c](SimpleEvent&) {
      std::lock_guard<std::mutex> l(m);
      order.push_back(c);
    });
  };
  loop->post([&](SimpleEvent&) {
    loop->post(mark('D'), 20000);
    loop->post(mark('A'));
    // D falls due before the next dispatch; C, posted after it, must follow it.
    std::this_thread::sleep_for(milliseconds(30));
    loop->post(mark('C'));
  });
  ASSERT_TRUE(wait_until([&] {
    std::lock_guard<std::mutex> l(m);
    return order.size() == 3;
  }));
  // D fell due while the first message slept and was posted before A: it keeps its place.
  EXPECT_EQ(std::string(order.begin(), order.end()), "DAC");

  // Later undelayed messages run while the delayed one waits.
  std::atomic<int> step{0};
  std::atomic<int> undelayed_before{-1};
  loop->post([&](SimpleEvent&) { undelayed_before.store(step.load()); }, 300000);
  for (int i = 0; i < 10; i++) loop->post([&](SimpleEvent&) { step++; });
  ASSERT_TRUE(wait_until([&] { return undelayed_before.load() >= 0; }));
  EXPECT_EQ(undelayed_before.load(), 10);
}

TEST(RunLoop, CancelAndCleanKeepInsideOneDispatch) {
  LoopThread lt;
  RunLoop* loop = lt.loop();
  for (int round = 0; round < 300; round++) {
    Blocker blocker;
    blocker.post_to(loop);
    std::atomic<uint32_t> victim{0};
    std::atomic<int> ran{0}, after{0};
    KeepLoop* clean = loop->keep_alive("clean", true);
    // All of these wait behind the blocker and fire in one dispatch.
    loop->post([&](SimpleEvent&) { loop->cancel(victim.load()); });
    loop->post([&, clean](SimpleEvent&) { clean->release(); });
    victim.store(loop->post([&](SimpleEvent&) { ran++; }));
    clean->post([&](SimpleEvent&) { ran++; });
    clean->post([&](SimpleEvent&) { ran++; });
    loop->post([&](SimpleEvent&) { after++; });
    loop->cancel(0);  // does nothing
    blocker.release();
    ASSERT_TRUE(wait_until([&] { return after.load() == 1; }));
    ASSERT_EQ(ran.load(), 0) << "round " << round;
  }
}

// A queue longer than a few storage blocks, of inline lambdas and callback cores mixed:
// posting order kept, cancels before the dispatch and from inside it honoured, a delayed
// entry moved behind, every core released once, every id distinct.
TEST(RunLoop, LongQueuesKeepOrderCancelsAndReleases) {
  constexpr int kCount = 1000, kDelayed = 600, kCanceller = 505, kCancelledInside = 900;
  LoopThread lt;
  RunLoop* loop = lt.loop();
  for (int round = 0; round < 20; round++) {
    Blocker blocker;
    blocker.post_to(loop);
    std::vector<int> order;  // written on the loop thread only
    std::atomic<int> fired{0}, ends{0};
    std::vector<uint32_t> ids(kCount);
    int cores = 0;
    for (int i = 0; i < kCount; i++) {
      auto record = [&order, &fired, i](SimpleEvent&) {
        order.push_back(i);
        fired++;
      };
      // Far enough out that posting the whole queue (slow under the sanitizers) never
      // makes it due before the rest has fired.
      uint64_t delay = i == kDelayed ? 100000 : 0;
      if (i % 3 == 0) {
        // A core with a context: the context ends with the core.
        ids[i] =
            loop->post(Callback(new LambdaCallback<Counted>(record, new Counted(&ends))), delay);
        cores++;
      } else if (i == kCanceller) {
        ids[i] = loop->post([&, record](SimpleEvent& e) mutable {
          loop->cancel(ids[kCancelledInside]);
          record(e);
        });
      } else {
        ids[i] = loop->post(record, delay);
      }
    }
    std::vector<uint32_t> sorted(ids);
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end());
    EXPECT_NE(sorted.front(), 0u);
    int expected = kCount - 1;  // the one cancelled from inside
    for (int i = 10; i < kCount; i += 10) {
      if (i == kDelayed || i == kCancelledInside) continue;
      loop->cancel(ids[i]);
      expected--;
    }
    blocker.release();
    ASSERT_TRUE(wait_until([&] { return fired.load() == expected; }));
    ASSERT_TRUE(wait_until([&] { return ends.load() == cores; })) << ends.load() << " of " << cores;
    std::vector<int> want;
    for (int i = 0; i < kCount; i++) {
      if ((i % 10 == 0 && i != 0 && i != kDelayed) || i == kCancelledInside || i == kDelayed)
        continue;
      want.push_back(i);
    }
    want.push_back(kDelayed);
    loop->post_sync([&](SimpleEvent&) { EXPECT_EQ(order, want) << "round " << round; });
  }
}

TEST(RunLoop, PostSyncFromOwnerAndFromAnotherThread) {
  LoopThread lt;
  RunLoop* loop = lt.loop();
  std::atomic<bool> inner_ran{false}, ran_before_return{false};
  loop->post([&](SimpleEvent&) {
    loop->post_sync([&](SimpleEvent&) { inner_ran.store(true); });
    ran_before_return.store(inner_ran.load());
  });
  ASSERT_TRUE(wait_until([&] { return inner_ran.load(); }));
  EXPECT_TRUE(wait_until([&] { return ran_before_return.load(); }));

  for (int i = 0; i < 200; i++) {
    std::thread::id ran_on;
    Object* data = nullptr;
    loop->post_sync([&](SimpleEvent& e) {
      ran_on = std::this_thread::get_id();
      data = e.data;
    });
    ASSERT_EQ(ran_on, lt.id());
    ASSERT_EQ(data, loop);
  }
}

// A thread that post_syncs and records whether the call has returned.
struct SyncCaller {
  std::atomic<bool> returned{false};
  std::atomic<bool> fired{false};
  std::thread thread;
  void start(RunLoop* loop) {
    thread = std::thread([this, loop] {
      loop->post_sync([this](SimpleEvent&) { fired.store(true); });
      returned.store(true);
    });
  }
  ~SyncCaller() {
    if (thread.joinable()) thread.join();
  }
};

TEST(RunLoop, PostSyncReturnsWhenOwnerAborted) {
  for (int round = 0; round < 50; round++) {
    std::atomic<RunLoop*> loop{nullptr};
    std::atomic<bool> let_go{false};
    std::thread::id id = Thread::spawn([&](Thread&) {
      RunLoop* l = RunLoop::current();
      KeepLoop* keep = l->keep_alive("aborted owner");
      loop.store(l);
      l->run(0);
      // The loop stays in existence: only the abort can end the wait.
      wait_until([&] { return let_go.load(); });
      keep->release();
      return 0;
    });
    ASSERT_TRUE(wait_until([&] { return loop.load() != nullptr; }));
    Blocker blocker;
    blocker.post_to(loop.load());
    SyncCaller caller;
    caller.start(loop.load());
    Thread::abort(id);
    blocker.release();
    // Queued before the abort's stop it fires; queued after it, it is dropped when the
    // aborted run ends. Either way the caller returns.
    ASSERT_TRUE(wait_until([&] { return caller.returned.load(); })) << "round " << round;
    let_go.store(true);
    Thread::wait_for_end(id, kWatchdogUs);
  }
}

TEST(RunLoop, PostSyncOfAnAbortedCallerReturnsAndNeverFires) {
  LoopThread lt;
  for (int round = 0; round < 100; round++) {
    // The owner is busy waiting for the caller's end, as a worker group's destructor
    // does: only the caller's abort can end both waits.
    std::atomic<bool> waiting{false}, fired{false}, owner_done{false};
    std::atomic<std::thread::id> caller{std::thread::id()};
    // Queued first, so the caller's message can only come after it.
    lt.loop()->post([&](SimpleEvent&) {
      wait_until([&] { return waiting.load() && caller.load() != std::thread::id(); });
      Thread::abort(caller.load());
      Thread::wait_for_end(caller.load(), kWatchdogUs);
      owner_done.store(true);
    });
    caller.store(Thread::spawn([&](Thread&) {
      waiting.store(true);
      lt.loop()->post_sync([&](SimpleEvent&) { fired.store(true); });
      return 0;
    }));
    ASSERT_TRUE(wait_until([&] { return owner_done.load(); })) << "round " << round;
    // The abandoned message, if it was queued, runs after this one and must not call back.
    std::atomic<bool> after{false};
    lt.loop()->post([&](SimpleEvent&) { after.store(true); });
    ASSERT_TRUE(wait_until([&] { return after.load(); }));
    EXPECT_FALSE(fired.load()) << "round " << round;
  }
}

TEST(RunLoop, PostSyncReturnsWhenLoopDestroyed) {
  for (int round = 0; round < 50; round++) {
    std::atomic<RunLoop*> loop{nullptr};
    std::atomic<bool> go{false};
    std::thread::id id = Thread::spawn([&](Thread&) {
      loop.store(RunLoop::current());
      wait_until([&] { return go.load(); });
      return 0;  // never runs the loop: its queue dies with it
    });
    ASSERT_TRUE(wait_until([&] { return loop.load() != nullptr; }));
    SyncCaller caller;
    caller.start(loop.load());
    ASSERT_TRUE(wait_until([&] { return loop.load()->is_alive(); }));  // queued
    go.store(true);
    ASSERT_TRUE(wait_until([&] { return caller.returned.load(); })) << "round " << round;
    EXPECT_FALSE(caller.fired.load());
    Thread::wait_for_end(id, kWatchdogUs);
  }
}

TEST(RunLoop, PostSyncReturnsWhenCancelled) {
  LoopThread lt;
  RunLoop* loop = lt.loop();
  for (int round = 0; round < 50; round++) {
    Blocker blocker;
    blocker.post_to(loop);
    std::atomic<uint32_t> predicted{0};
    SyncCaller caller;
    caller.thread = std::thread([&] {
      // Nothing else takes ids meanwhile: the post_sync message gets the next one.
      predicted.store(loop->post([](SimpleEvent&) {}) + 1);
      loop->post_sync([&](SimpleEvent&) { caller.fired.store(true); });
      caller.returned.store(true);
    });
    ASSERT_TRUE(wait_until([&] {
      if (predicted.load()) loop->cancel(predicted.load());
      return caller.returned.load();
    }));
    blocker.release();
    EXPECT_FALSE(caller.fired.load());
  }
}

TEST(RunLoop, WorkDoneOnOwnerThread) {
  LoopThread lt;
  RunLoop* loop = lt.loop();
  std::atomic<int> done{0};
  std::atomic<bool> wrong_thread{false};
  for (int i = 0; i < 100; i++) {
    uint32_t id = loop->work(
        [&](SimpleEvent& e) {
          if (std::this_thread::get_id() == lt.id() || e.data != loop) wrong_thread.store(true);
        },
        [&](SimpleEvent& e) {
          if (std::this_thread::get_id() != lt.id() || e.data != loop) wrong_thread.store(true);
          done++;
        },
        "work");
    ASSERT_NE(id, 0u);
  }
  ASSERT_TRUE(wait_until([&] { return done.load() == 100; }));
  EXPECT_FALSE(wrong_thread.load());
}

TEST(RunLoop, CancelledWorkHasNoDone) {
  LoopThread lt;
  RunLoop* loop = lt.loop();
  std::atomic<int> started{0}, blockers_done{0}, victim_ran{0}, victim_done{0};
  std::atomic<bool> release{false};
  for (int i = 0; i < 4; i++) {
    loop->work(
        [&](SimpleEvent&) {
          started++;
          wait_until([&] { return release.load(); });
        },
        [&](SimpleEvent&) { blockers_done++; }, "blocker");
  }
  ASSERT_TRUE(wait_until([&] { return started.load() == 4; }));  // the pool is full
  uint32_t id = loop->work([&](SimpleEvent&) { victim_ran++; },
                           [&](SimpleEvent&) { victim_done++; }, "victim");
  loop->cancel_work(id);
  // The cancel is a message after the submission: once it has fired, release the pool.
  std::atomic<bool> cancelled{false};
  loop->post([&](SimpleEvent&) { cancelled.store(true); });
  ASSERT_TRUE(wait_until([&] { return cancelled.load(); }));
  release.store(true);
  ASSERT_TRUE(wait_until([&] { return blockers_done.load() == 4; }));
  // The pool starts works in submission order: once a later work has run, the victim
  // would have started.
  std::atomic<bool> tail{false};
  loop->work([](SimpleEvent&) {}, [&](SimpleEvent&) { tail.store(true); }, "tail");
  ASSERT_TRUE(wait_until([&] { return tail.load(); }));
  std::atomic<bool> settled{false};
  loop->post([&](SimpleEvent&) { settled.store(true); });
  ASSERT_TRUE(wait_until([&] { return settled.load(); }));
  EXPECT_EQ(victim_ran.load(), 0);
  EXPECT_EQ(victim_done.load(), 0);
}

TEST(RunLoop, ThreadEndsWhileWorksBlockInThePool) {
  std::atomic<bool> release{false};
  std::atomic<int> started{0}, done{0};
  std::atomic<bool> body_returned{false};
  const char* const kLog = "RunLoop work not complete: \"blocked work\"";
  const int logged = capture->count(kLog);  // by earlier runs of this test
  std::thread::id id = Thread::spawn([&](Thread&) {
    RunLoop* loop = RunLoop::current();
    for (int i = 0; i < 2; i++) {
      loop->work(
          [&](SimpleEvent&) {
            started++;
            wait_until([&] { return release.load(); });
          },
          [&](SimpleEvent&) { done++; }, "blocked work");
    }
    loop->post([&, loop](SimpleEvent&) {
      wait_until([&] { return started.load() == 2; });
      loop->stop();
    });
    loop->run(0);
    body_returned.store(true);
    return 0;
  });
  // The loop is destroyed with both works in flight: logged, then drained.
  ASSERT_TRUE(wait_until([&] { return capture->count(kLog) >= logged + 2; }));
  EXPECT_TRUE(body_returned.load());
  release.store(true);
  Thread::wait_for_end(id, kWatchdogUs);
  EXPECT_EQ(done.load(), 0);
}

TEST(RunLoop, KeepsHoldTheLoopOpen) {
  LoopThread lt;
  // Some dispatches pass; the keep keeps the loop running.
  for (int i = 0; i < 20; i++) {
    std::atomic<bool> ran{false};
    lt.loop()->post([&](SimpleEvent&) { ran.store(true); });
    ASSERT_TRUE(wait_until([&] { return ran.load(); }));
  }
  EXPECT_FALSE(lt.ended_run());
  EXPECT_TRUE(lt.loop()->is_running());
  // Releasing the keep ends the run.
  lt.finish();
  ASSERT_TRUE(wait_until([&] { return lt.ended_run(); }));
}

TEST(RunLoop, KeepOutlivingItsLoopIsDetached) {
  KeepLoop* keep = nullptr;
  std::thread::id id = Thread::spawn([&](Thread&) {
    keep = RunLoop::current()->keep_alive("left behind");
    return 0;
  });
  Thread::wait_for_end(id, kWatchdogUs);
  ASSERT_NE(keep, nullptr);
  EXPECT_GE(capture->count("RunLoop keep not release \"left behind\""), 1);
  EXPECT_FALSE(keep->is_attached());
  EXPECT_EQ(keep->post([](SimpleEvent&) {}), 0u);
  keep->release();
}

TEST(RunLoop, RunZeroRacingAPost) {
  std::atomic<RunLoop*> loop{nullptr};
  std::atomic<int> runs{0};
  std::atomic<bool> quit{false};
  std::thread::id id = Thread::spawn([&](Thread&) {
    RunLoop* l = RunLoop::current();
    loop.store(l);
    while (!quit.load()) {
      l->run(0);
      runs++;
    }
    return 0;
  });
  ASSERT_TRUE(wait_until([&] { return loop.load() != nullptr; }));
  int late = 0;
  for (int i = 0; i < 2000; i++) {
    std::atomic<int> fired_in{-1};
    loop.load()->post([&](SimpleEvent&) { fired_in.store(runs.load()); });
    int posted_by = runs.load();
    if (i % 3 == 0) loop.load()->stop();  // a stop that may go stale
    ASSERT_TRUE(wait_until([&] { return fired_in.load() >= 0; })) << "message " << i;
    if (fired_in.load() > posted_by + 1) late++;
  }
  EXPECT_EQ(late, 0);
  quit.store(true);
  Thread::wait_for_end(id, kWatchdogUs);
}

TEST(RunLoop, StaleStopDoesNotEndTheNextRun) {
  // A stop queued for one run and left behind must not end the next one: the second
  // run below is kept by a keep, so only a stop could end it.
  for (int round = 0; round < 100; round++) {
    std::atomic<RunLoop*> loop{nullptr};
    std::atomic<bool> second_ended{false};
    std::atomic<KeepLoop*> keep{nullptr};
    std::thread::id id = Thread::spawn([&](Thread&) {
      RunLoop* l = RunLoop::current();
      loop.store(l);
      l->post([l](SimpleEvent&) { l->stop(); });
      l->post([l](SimpleEvent&) { l->stop(); });  // stale once the first has ended the run
      l->run(0);
      keep.store(l->keep_alive("second run"));
      l->run(0);
      second_ended.store(true);
      return 0;
    });
    ASSERT_TRUE(wait_until([&] { return keep.load() != nullptr; }));
    std::atomic<int> ran{0};
    for (int i = 0; i < 3; i++) loop.load()->post([&](SimpleEvent&) { ran++; });
    ASSERT_TRUE(wait_until([&] { return ran.load() == 3; }));
    EXPECT_FALSE(second_ended.load()) << "round " << round;
    keep.load()->release();
    Thread::wait_for_end(id, kWatchdogUs);
    ASSERT_TRUE(second_ended.load());
  }
}

TEST(RunLoop, KeepAliveTimeCountsFromTheLastActivity) {
  std::atomic<RunLoop*> loop{nullptr};
  std::atomic<int64_t> fired_at{0}, ended_at{0};
  std::thread::id id = Thread::spawn([&](Thread&) {
    RunLoop* l = RunLoop::current();
    loop.store(l);
    l->run(2000000);
    ended_at.store(time_monotonic());
    return 0;
  });
  ASSERT_TRUE(wait_until([&] { return loop.load() != nullptr && loop.load()->is_running(); }));
  std::this_thread::sleep_for(milliseconds(1000));
  ASSERT_NE(loop.load()->post([&](SimpleEvent&) { fired_at.store(time_monotonic()); }), 0u);
  ASSERT_TRUE(wait_until([&] { return ended_at.load() != 0; }));
  ASSERT_NE(fired_at.load(), 0);
  EXPECT_GE(ended_at.load() - fired_at.load(), 1990000);
  Thread::wait_for_end(id, kWatchdogUs);
}

// A delay whose end is past what the clock can represent never falls due (it used to
// wrap and fire at once).
TEST(RunLoop, DelaysBeyondTheClockNeverFallDue) {
  LoopThread lt;
  std::atomic<int> fired{0};
  uint64_t now = (uint64_t)time_monotonic();
  std::vector<uint32_t> ids;
  for (uint64_t delay : {UINT64_MAX, (uint64_t)INT64_MAX, ((uint64_t)1 << 63) - now,
                         ((uint64_t)1 << 63), UINT64_MAX - now}) {
    ids.push_back(lt.loop()->post([&](SimpleEvent&) { fired++; }, delay));
    ASSERT_NE(ids.back(), 0u);
  }
  lt.drain();
  std::this_thread::sleep_for(milliseconds(50));
  lt.drain();
  EXPECT_EQ(fired.load(), 0);
  for (uint32_t id : ids) lt.loop()->cancel(id);
}

// Whatever a message, a pool job or a done callback throws is logged as an Error is,
// and the loop goes on.
TEST(RunLoop, ExceptionsOfEveryKindAreLoggedAndTheLoopGoesOn) {
  auto line = [](const char* message) {
    return std::string(String::format("Error: %d \n message:\n\t%s", ERR_UNKNOWN, message).c_str());
  };
  const std::string thrown[] = {line("message boom"), line("work boom"), line("done boom"),
                                line("unknown exception"), line("bad function call")};
  int before[5];
  for (int i = 0; i < 5; i++) before[i] = capture->count(thrown[i].c_str());
  LoopThread lt;
  std::atomic<bool> done_threw{false}, after{false};
  lt.loop()->post([](SimpleEvent&) { throw std::runtime_error("message boom"); });
  lt.loop()->post([](SimpleEvent&) { throw 7; });
  lt.loop()->post(Callback(new LambdaCallback<Object>(nullptr)));
  lt.loop()->work([](SimpleEvent&) { throw std::runtime_error("work boom"); },
                  [&](SimpleEvent&) {
                    done_threw.store(true);
                    throw std::logic_error("done boom");
                  });
  ASSERT_TRUE(wait_until([&] { return done_threw.load(); }));
  lt.loop()->post([&](SimpleEvent&) { after.store(true); });
  lt.drain();
  EXPECT_TRUE(after.load());
  for (int i = 0; i < 5; i++)
    EXPECT_EQ(capture->count(thrown[i].c_str()), before[i] + 1) << thrown[i];
}

// After the ids wrapped, a new message or keep never takes an id still in use: the
// caller's id cancels the caller's message.
TEST(RunLoop, IdsAfterTheWrapAreNeverShared) {
  LoopThread lt;
  RunLoop* loop = lt.loop();
  Blocker blocker;
  blocker.post_to(loop);
  std::atomic<bool> a_fired{false}, b_fired{false};
  const uint64_t kWrap = 4294967295u;
  set_iid_counter(kWrap - 1);  // the last id before the wrap
  uint32_t a = loop->post([&](SimpleEvent&) { a_fired.store(true); });
  KeepLoop* k1 = loop->keep_alive("first");
  set_iid_counter(kWrap - 1 + kWrap);  // the same ids again, one wrap later
  uint32_t b = loop->post([&](SimpleEvent&) { b_fired.store(true); });
  set_iid_counter(k1->group() + 2 * kWrap);  // the first keep's id, two wraps later
  KeepLoop* k2 = loop->keep_alive("second");
  EXPECT_EQ(a, (uint32_t)(kWrap - 1));
  EXPECT_NE(b, a);
  EXPECT_NE(b, 0u);
  EXPECT_NE(k2->group(), k1->group());
  EXPECT_NE(k2->group(), 0u);
  loop->cancel(b);
  blocker.release();
  lt.drain();
  EXPECT_TRUE(a_fired.load());
  EXPECT_FALSE(b_fired.load());
  k1->release();
  k2->release();
}

TEST(AsyncCallback, DeliversOnTheLoopThreadAndReleasesOnce) {
  LoopThread lt;
  for (int i = 0; i < 100; i++) {
    std::atomic<int> data_ends{0};
    std::atomic<bool> right{false};
    Counted* data = new Counted(&data_ends);
    Error* error = new Error(-7, "failed");
    async_callback(Callback([&, data](SimpleEvent& e) {
                     right.store(std::this_thread::get_id() == lt.id() && e.data == data &&
                                 e.error && e.error->code() == -7);
                   }),
                   error, data, lt.loop());
    ASSERT_TRUE(wait_until([&] { return data_ends.load() == 1; }));
    EXPECT_TRUE(right.load());
    EXPECT_EQ(data_ends.load(), 1);
  }
}

TEST(AsyncCallback, ReleasedOnceWhenTheLoopThreadEndsFirst) {
  std::atomic<RunLoop*> loop{nullptr};
  std::atomic<bool> go{false};
  std::thread::id id = Thread::spawn([&](Thread&) {
    loop.store(RunLoop::current());
    wait_until([&] { return go.load(); });
    return 0;
  });
  ASSERT_TRUE(wait_until([&] { return loop.load() != nullptr; }));
  std::atomic<int> data_ends{0}, calls{0};
  async_callback(Callback([&](SimpleEvent&) { calls++; }), new Error(-1, "x"),
                 new Counted(&data_ends), loop.load());
  go.store(true);
  Thread::wait_for_end(id, kWatchdogUs);
  EXPECT_EQ(calls.load(), 0);
  EXPECT_EQ(data_ends.load(), 1);
}

TEST(ReportError, ToALoopOrAtOnce) {
  LoopThread lt;
  std::atomic<int> code{0};
  std::atomic<bool> on_loop{false};
  report_error(lt.loop(), Error(-3, "late"), [&](SimpleEvent& e) {
    on_loop.store(std::this_thread::get_id() == lt.id());
    code.store(e.error->code());
  });
  ASSERT_TRUE(wait_until([&] { return code.load() == -3; }));
  EXPECT_TRUE(on_loop.load());
  int32_t now_code = 0;
  report_error(nullptr, Error(-4, "now"), [&](SimpleEvent& e) { now_code = e.error->code(); });
  EXPECT_EQ(now_code, -4);
  // A target that refuses the message (a keep whose loop is gone) gets it at once.
  KeepLoop* detached = nullptr;
  std::thread::id id = Thread::spawn([&](Thread&) {
    detached = RunLoop::current()->keep_alive("report target");
    return 0;
  });
  Thread::wait_for_end(id, kWatchdogUs);
  ASSERT_NE(detached, nullptr);
  int32_t refused_code = 0;
  report_error(detached, Error(-5, "refused"),
               [&](SimpleEvent& e) { refused_code = e.error->code(); });
  EXPECT_EQ(refused_code, -5);
  detached->release();
}

TEST(RunLoop, OutsideMutexIsHeldWhileMessagesAndWorkCompletionsFire) {
  LoopThread lt;
  std::mutex outside;
  lt.loop()->set_outside_mutex(&outside);
  std::atomic<bool> started{false}, go{false}, message_ran{false}, work_ran{false};
  std::atomic<bool> done_ran{false};
  std::atomic<bool> held_in_message{false}, held_in_done{false};
  // The work runs in the pool without the mutex; it waits there until the mutex is taken.
  lt.loop()->work(
      [&](SimpleEvent&) {
        started.store(true);
        wait_until([&] { return go.load(); });
        work_ran.store(true);
      },
      [&](SimpleEvent&) {
        held_in_done.store(!outside.try_lock());
        done_ran.store(true);
      });
  ASSERT_TRUE(wait_until([&] { return started.load(); }));
  {
    std::lock_guard<std::mutex> l(outside);
    go.store(true);
    lt.loop()->post([&](SimpleEvent&) {
      held_in_message.store(!outside.try_lock());
      message_ran.store(true);
    });
    ASSERT_TRUE(wait_until([&] { return work_ran.load(); }));
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_FALSE(message_ran.load());
    EXPECT_FALSE(done_ran.load());
  }
  ASSERT_TRUE(wait_until([&] { return message_ran.load() && done_ran.load(); }));
  EXPECT_TRUE(held_in_message.load());
  EXPECT_TRUE(held_in_done.load());
  lt.loop()->set_outside_mutex(nullptr);
}

TEST(RunLoopDeathTest, FatalChecks) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_FATAL(
      RunLoop::current(),
      "Can't get thread specific data\n#\n# Fatal error in utils/loop, line 676, func current");
  EXPECT_FATAL(RunLoop::main_loop(), "line 676, func current");
  EXPECT_FATAL(
      {
        LoopThread lt;
        lt.loop()->run(0);
      },
      "Must run on the target thread\n#\n# Fatal error in utils/loop, line 366, func run");
  EXPECT_FATAL(
      {
        LoopThread lt;
        std::atomic<bool> never{false};
        lt.loop()->post([&](SimpleEvent&) { lt.loop()->run(0); });
        wait_until([&] { return never.load(); });
      },
      "# Fatal error in utils/loop, line 367, func run");
  // Deleting a loop from inside its own run.
  EXPECT_FATAL(
      {
        LoopThread lt;
        std::atomic<bool> never{false};
        lt.loop()->post([&](SimpleEvent&) { lt.loop()->release(); });
        wait_until([&] { return never.load(); });
      },
      "Secure deletion must ensure that the run loop has exited\n#\n# Fatal error in "
      "utils/loop, line 651, func ~RunLoop");
  // The main loop ended while this thread keeps a loop of its own: there is no main loop
  // to return and none can be made here.
  EXPECT_FATAL(
      {
        LoopThread main_thread;
        LoopThread other;
        main_thread.finish();
        std::atomic<bool> never{false};
        other.loop()->post([&](SimpleEvent&) { RunLoop::main_loop(); });
        wait_until([&] { return never.load(); });
      },
      "# Fatal error in utils/loop, line 698, func main_loop");
}

// The record's links refuse to be made twice or broken by the wrong loop.
TEST(RunLoopDeathTest, RecordLinkChecks) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto on_loop_thread = [](std::function<void(RunLoop*)> f) {
    LoopThread lt;
    std::atomic<bool> never{false};
    lt.loop()->post([&](SimpleEvent&) { f(lt.loop()); });
    wait_until([&] { return never.load(); });
  };
  EXPECT_FATAL(
      on_loop_thread([](RunLoop*) { Thread::Inl::set_thread_specific_data(Thread::current()); }),
      "# Fatal error in utils/loop, line 100, func set_thread_specific_data");
  EXPECT_FATAL(on_loop_thread([](RunLoop* l) { Thread::Inl::set_run_loop(Thread::current(), l); }),
               "# Fatal error in utils/loop, line 109, func set_run_loop");
  EXPECT_FATAL(
      {
        LoopThread a;
        LoopThread b;
        RunLoop* other = b.loop();
        std::atomic<bool> never{false};
        a.loop()->post([&](SimpleEvent&) { Thread::Inl::del_run_loop(Thread::current(), other); });
        wait_until([&] { return never.load(); });
      },
      "# Fatal error in utils/loop, line 115, func del_run_loop");
  EXPECT_FATAL(
      {
        std::atomic<bool> never{false};
        Thread::spawn([&](Thread& t) {
          Thread::Inl::del_run_loop(&t, nullptr);
          wait_until([&] { return never.load(); });
          return 0;
        });
        wait_until([&] { return never.load(); });
      },
      "# Fatal error in utils/loop, line 114, func del_run_loop");
}

}  // namespace
