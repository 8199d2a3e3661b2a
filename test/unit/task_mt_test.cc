// Abortable tasks on real framework threads and real libuv loops: safe_abort of live,
// stale and never-issued ids, racing the last release, racing the completion, and after
// the task's loop has ended; abort twice and after the completion; the fatal check.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "test/support/fatal_test.h"
#include "test/support/loop_thread.h"
#include "test/support/runtime_test.h"
#include "utils/console.h"
#include "utils/loop.h"
#include "utils/util.h"

using namespace nubrix;

namespace {

using nubrix_test::kWatchdogUs;
using nubrix_test::LoopThread;
using nubrix_test::wait_until;

// Counts its aborts, the thread they ran on and its end.
struct Counters {
  std::atomic<int> aborts{0};
  std::atomic<int> ends{0};
  std::atomic<int> foreign_thread_aborts{0};
  std::atomic<int> dying_aborts{0};  // aborts that reached a task being destroyed
  bool slow_end = false;             // destruction lingers: a lookup may find it dying
};

class TestTask : public AsyncIOTask {
 public:
  TestTask(RunLoop* loop, Counters* c)
      : AsyncIOTask(loop), c_(c), owner_(loop ? loop->thread_id() : std::thread::id()) {}
  // May run after the loop is gone: only the owner's id recorded at construction is used.
  void abort() override {
    c_->aborts++;
    if (Thread::current_id() != owner_) c_->foreign_thread_aborts++;
    if (dying_.load()) c_->dying_aborts++;
    AsyncIOTask::abort();
  }
  // The operation's completion.
  bool finish() { return complete(); }

 private:
  ~TestTask() override {
    dying_.store(true);
    if (c_->slow_end) {
      for (volatile uint32_t spin = random(0, 2000); spin > 0; spin--) {
      }
    }
    c_->ends++;
  }
  Counters* c_;
  std::atomic<bool> dying_{false};
  std::thread::id owner_;
};

// A task held by a holder and by its operation (two references).
TestTask* started_task(RunLoop* loop, Counters* c) {
  TestTask* t = new TestTask(loop, c);
  t->retain();  // the holder
  t->retain();  // the operation
  return t;
}

TEST(AsyncIOTask, SafeAbortOfALiveTaskAbortsOnItsLoop) {
  LoopThread lt;
  Counters c;
  TestTask* task = started_task(lt.loop(), &c);
  EXPECT_NE(task->id(), 0u);
  EXPECT_EQ(task->loop(), lt.loop());
  AsyncIOTask::safe_abort(task->id());
  ASSERT_TRUE(wait_until([&] { return task->is_abort(); }));
  lt.drain();
  EXPECT_EQ(c.aborts.load(), 1);
  EXPECT_EQ(c.foreign_thread_aborts.load(), 0);
  EXPECT_EQ(task->ref_count(), 1);  // the operation's reference went back once
  EXPECT_TRUE(task->is_ended());
  task->release();
  EXPECT_EQ(c.ends.load(), 1);
}

TEST(AsyncIOTask, SafeAbortOfStaleAndNeverIssuedIds) {
  LoopThread lt;
  Counters c;
  TestTask* task = started_task(lt.loop(), &c);
  uint32_t stale = task->id();
  task->finish();
  task->release();
  ASSERT_EQ(c.ends.load(), 1);
  // Another live task on the loop must not be touched by either request.
  TestTask* other = started_task(lt.loop(), &c);
  AsyncIOTask::safe_abort(stale);
  AsyncIOTask::safe_abort(0);
  AsyncIOTask::safe_abort(other->id() + 1000000);  // not handed out yet
  lt.drain();
  EXPECT_EQ(c.aborts.load(), 0);
  EXPECT_FALSE(other->is_ended());
  EXPECT_EQ(other->ref_count(), 2);
  other->finish();
  other->release();
  EXPECT_EQ(c.ends.load(), 2);
}

// The last holder lets go right after asking for the abort: the request may find the
// task alive, dying (its count already 0) or gone. Three shapes, from two threads:
// the operation completed before (only the holder is left), the operation still holds
// the task (the abort ends it), and the operation completes on the caller's thread while
// the abort runs on the loop (exactly one of them gives the operation's reference back).
// Every task ends exactly once, and aborts run on the loop's thread only.
TEST(AsyncIOTask, SafeAbortRacingTheLastRelease) {
  const int rounds = 10000;
  LoopThread lt;
  Counters c;
  c.slow_end = true;
  std::atomic<int> completed{0};
  std::vector<std::thread> callers;
  std::atomic<int> reached[2] = {};
  for (int k = 0; k < 2; k++) {
    callers.emplace_back([&, k] {
      for (int i = k; i < rounds; i += 2) {
        TestTask* t = started_task(lt.loop(), &c);
        // The request is handled right after this marker: releasing a moment after the
        // marker fired lands the release beside the loop's lookup.
        lt.loop()->post([&reached, k, i](SimpleEvent&) { reached[k].store(i); });
        if (i % 3 == 0) completed += t->finish();
        AsyncIOTask::safe_abort(t->id());
        while (reached[k].load() != i) std::this_thread::yield();
        for (volatile uint32_t spin = random(0, 400); spin > 0; spin--) {
        }
        switch (i % 3) {
          case 0:
          case 1:
            t->release();
            break;
          default:
            completed += t->finish();
            t->release();
            break;
        }
      }
    });
  }
  for (auto& th : callers) th.join();
  lt.drain();
  EXPECT_EQ(c.ends.load(), rounds);
  EXPECT_EQ(c.foreign_thread_aborts.load(), 0);
  EXPECT_EQ(c.dying_aborts.load(), 0);
  // The first shape always completes, the second never does.
  EXPECT_GE(completed.load(), (rounds + 2) / 3);
  EXPECT_LE(completed.load(), rounds - rounds / 3);
}

// Aborting twice, aborting after the completion and completing after the abort give the
// operation's reference back once.
TEST(AsyncIOTask, AbortTwiceAndAfterCompletionReleaseOnce) {
  LoopThread lt;
  Counters c;
  TestTask* a = started_task(lt.loop(), &c);
  a->abort();
  a->abort();
  EXPECT_TRUE(a->is_abort());
  EXPECT_FALSE(a->finish());
  EXPECT_EQ(a->ref_count(), 1);
  TestTask* b = started_task(lt.loop(), &c);
  EXPECT_TRUE(b->finish());
  EXPECT_FALSE(b->finish());
  b->abort();
  AsyncIOTask::safe_abort(b->id());
  lt.drain();
  EXPECT_FALSE(b->is_abort());
  EXPECT_TRUE(b->is_ended());
  EXPECT_EQ(b->ref_count(), 1);
  EXPECT_EQ(c.ends.load(), 0);
  a->release();
  b->release();
  EXPECT_EQ(c.ends.load(), 2);
}

// A task that outlives its loop: the request finds no loop to go to and leaves the task
// alone (the freed loop is not touched).
TEST(AsyncIOTask, SafeAbortAfterTheLoopThreadEnded) {
  Counters c;
  TestTask* task;
  {
    LoopThread lt;
    task = started_task(lt.loop(), &c);
    lt.finish();
  }
  for (int i = 0; i < 3; i++) AsyncIOTask::safe_abort(task->id());
  // Give a wrongly posted request every chance to show.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(c.aborts.load(), 0);
  EXPECT_FALSE(task->is_ended());
  EXPECT_EQ(task->ref_count(), 2);
  task->abort();  // on this thread, directly
  EXPECT_EQ(task->ref_count(), 1);
  task->release();
  EXPECT_EQ(c.ends.load(), 1);
}

// Aborts asked for from many threads at once, while holders come and go: each live task
// is aborted once, on its loop.
TEST(AsyncIOTask, ManyThreadsAbortOneTask) {
  LoopThread lt;
  for (int round = 0; round < 200; round++) {
    Counters c;
    TestTask* task = started_task(lt.loop(), &c);
    uint32_t id = task->id();
    std::vector<std::thread> callers;
    for (int k = 0; k < 4; k++) {
      callers.emplace_back([&] {
        for (int i = 0; i < 5; i++) AsyncIOTask::safe_abort(id);
      });
    }
    for (auto& th : callers) th.join();
    lt.drain();
    ASSERT_TRUE(task->is_abort());
    ASSERT_EQ(c.foreign_thread_aborts.load(), 0);
    ASSERT_EQ(task->ref_count(), 1);
    ASSERT_GE(c.aborts.load(), 1);
    task->release();
    ASSERT_EQ(c.ends.load(), 1);
  }
}

TEST(AsyncIOTaskDeathTest, WithoutALoop) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_FATAL(
      {
        Counters c;
        new TestTask(nullptr, &c);
      },
      "# Fatal error in utils/cb, line 114, func AsyncIOTask");
}

}  // namespace
