// Worker groups on real framework threads and real libuv loops: destruction on the
// group's loop while children end at random moments, spawns racing the destruction,
// waking and aborting one child or all, the fatal checks, and spawns during process
// exit. Waits are on conditions, bounded by a watchdog; racy scenarios repeat.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
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

// Sleeps until aborted.
int sleep_until_abort(Thread& t) {
  while (!t.is_abort()) Thread::sleep(0);
  return 0;
}

// Each round: a thread makes a loop and a group of children that end by themselves at
// random moments (or wait for the abort), then destroys the group from a message on
// that loop after a random delay. When the destruction returns no child body runs any
// more, and the loop, kept by nothing else, ends.
TEST(ParallelWorking, DestroyedOnItsLoopWhileChildrenEnd) {
  const int rounds = 500;
  for (int round = 0; round < rounds; round++) {
    std::atomic<int> running{0};
    std::atomic<int> started{0};
    std::atomic<int> left_after_destruction{-1};
    std::atomic<bool> run_returned{false};
    std::thread::id id = Thread::spawn([&](Thread&) {
      RunLoop* loop = RunLoop::current();
      ParallelWorking* group = new ParallelWorking();
      for (int i = 0; i < 3; i++) {
        uint32_t kind = random(0, 2);
        std::thread::id child = group->spawn_child([&, kind](Thread& t) {
          running++;
          started++;
          if (kind == 1) {
            Thread::sleep(random(1, 300));
          } else if (kind == 2) {
            sleep_until_abort(t);
          }
          running--;
          return 0;
        });
        EXPECT_NE(child, std::thread::id());
      }
      loop->post(
          [&, group](SimpleEvent&) {
            group->release();
            left_after_destruction.store(running.load());
          },
          (uint64_t)random(0, 400));
      loop->run(0);
      run_returned.store(true);
      return 0;
    });
    ASSERT_TRUE(wait_until([&] { return run_returned.load(); })) << "round " << round;
    Thread::wait_for_end(id, kWatchdogUs);
    ASSERT_EQ(left_after_destruction.load(), 0) << "round " << round;
    ASSERT_EQ(running.load(), 0);
    // A child that had not started when it was aborted never runs its body.
    ASSERT_LE(started.load(), 3);
  }
}

// A child keeps spawning children into its own group while the group is destroyed: the
// spawns are refused from the start of the destruction, and every child that was
// started has ended when it returns.
TEST(ParallelWorking, SpawnsRacingTheDestructionAreRefused) {
  const int rounds = 100;
  LoopThread lt;
  for (int round = 0; round < rounds; round++) {
    std::atomic<int> live{0};
    std::atomic<int> spawned{0};
    std::atomic<bool> refused{false};
    ParallelWorking* group = new ParallelWorking(lt.loop());
    group->spawn_child([&](Thread&) {
      // Ignores its abort: only a refusal ends it.
      for (;;) {
        std::thread::id id = group->spawn_child([&](Thread& t) {
          live++;
          sleep_until_abort(t);
          live--;
          return 0;
        });
        if (id == std::thread::id()) break;
        spawned++;
        Thread::sleep(random(1, 200));
      }
      refused.store(true);
      return 0;
    });
    ASSERT_TRUE(wait_until([&] { return spawned.load() >= 1 + round % 4; }));
    std::atomic<bool> destroyed{false};
    lt.loop()->post([&](SimpleEvent&) {
      group->release();
      destroyed.store(true);
    });
    ASSERT_TRUE(wait_until([&] { return destroyed.load(); })) << "round " << round;
    EXPECT_TRUE(refused.load());
    EXPECT_EQ(live.load(), 0) << "round " << round;
  }
}

// Four children count their wake-ups until aborted.
struct Sleepers {
  explicit Sleepers(RunLoop* loop) : group(new ParallelWorking(loop)) {
    for (int i = 0; i < 4; i++) {
      ids[i] = group->spawn_child([this, i](Thread& t) {
        while (!t.is_abort()) {
          Thread::sleep(0);
          wakes[i]++;
        }
        ended[i].store(true);
        return 0;
      });
    }
  }
  ~Sleepers() { group->release(); }
  // Wakes child i (or all, -1) until it has counted a wake-up; a wake sent before the
  // child sleeps is lost, so it is repeated.
  bool wake(int i) {
    int before[4];
    for (int k = 0; k < 4; k++) before[k] = wakes[k].load();
    return wait_until([&] {
      group->awaken_child(i < 0 ? std::thread::id() : ids[i]);
      for (int k = 0; k < 4; k++) {
        if ((i < 0 || k == i) && wakes[k].load() == before[k]) return false;
      }
      return true;
    });
  }
  ParallelWorking* group;
  std::thread::id ids[4];
  std::atomic<int> wakes[4] = {};
  std::atomic<bool> ended[4] = {};
};

TEST(ParallelWorking, ChildrenWokenAndAbortedOneByOneAndAllAtOnce) {
  LoopThread lt;
  for (int round = 0; round < 20; round++) {
    Sleepers s(lt.loop());
    EXPECT_EQ(s.group->child_count(), 4u);
    EXPECT_TRUE(s.wake(2));
    EXPECT_TRUE(s.wake(-1));
    // One child: it has ended when the call returns, the others go on.
    s.group->abort_child(s.ids[1]);
    EXPECT_TRUE(s.ended[1].load());
    EXPECT_FALSE(s.ended[0].load() || s.ended[2].load() || s.ended[3].load());
    EXPECT_EQ(s.group->child_count(), 3u);
    EXPECT_TRUE(s.wake(3));
    // All at once.
    s.group->abort_child();
    for (int k = 0; k < 4; k++) EXPECT_TRUE(s.ended[k].load()) << k;
    EXPECT_EQ(s.group->child_count(), 0u);
    // A group without children can still wake or abort "all": nothing happens.
    s.group->awaken_child();
    s.group->abort_child();
  }
}

// A child may abort its whole group, itself included, and the group may be destroyed
// from one of its children: the caller is aborted but not waited for.
TEST(ParallelWorking, AbortAllAndDestructionFromAChild) {
  LoopThread lt;
  for (int round = 0; round < 20; round++) {
    ParallelWorking* group = new ParallelWorking(lt.loop());
    std::atomic<int> ended{0};
    std::atomic<int> ended_at_return{-1};
    std::atomic<bool> caller_aborted{false};
    std::atomic<bool> released{false};
    std::atomic<int> started{0};
    for (int i = 0; i < 2; i++) {
      group->spawn_child([&](Thread& t) {
        started++;
        sleep_until_abort(t);
        ended++;
        return 0;
      });
    }
    ASSERT_TRUE(wait_until([&] { return started.load() == 2; }));
    group->spawn_child([&, group](Thread& t) {
      group->abort_child();
      ended_at_return.store(ended.load());
      caller_aborted.store(t.is_abort());
      group->release();
      released.store(true);
      return 0;
    });
    ASSERT_TRUE(wait_until([&] { return released.load(); }));
    EXPECT_TRUE(caller_aborted.load());
    EXPECT_EQ(ended_at_return.load(), 2);
  }
}

// Children aborted the moment they are spawned may never run their function object:
// they leave the group all the same.
TEST(ParallelWorking, ChildrenAbortedBeforeTheyStartLeaveTheGroup) {
  LoopThread lt;
  ParallelWorking* group = new ParallelWorking(lt.loop());
  std::atomic<int> ran{0};
  for (int round = 0; round < 200; round++) {
    group->spawn_child([&](Thread&) { return ran++, 0; });
    group->abort_child();
    ASSERT_EQ(group->child_count(), 0u);
  }
  group->release();
}

// The group keeps its loop alive; destroying a group whose children have all finished
// returns at once and lets the loop end.
TEST(ParallelWorking, KeepsItsLoopUntilDestroyed) {
  std::atomic<ParallelWorking*> group{nullptr};
  std::atomic<bool> run_returned{false};
  std::atomic<int> done{0};
  std::thread::id id = Thread::spawn([&](Thread&) {
    RunLoop* loop = RunLoop::current();
    ParallelWorking* g = new ParallelWorking();
    EXPECT_EQ(g->loop(), loop);
    for (int i = 0; i < 3; i++) g->spawn_child([&](Thread&) { return done++, 0; });
    group.store(g);
    loop->run(0);
    run_returned.store(true);
    return 0;
  });
  // The children may be done before the group is published.
  ASSERT_TRUE(wait_until(
      [&] { return done.load() == 3 && group.load() && group.load()->child_count() == 0; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(run_returned.load());  // the group's keep holds the loop open
  group.load()->release();
  EXPECT_TRUE(wait_until([&] { return run_returned.load(); }));
  Thread::wait_for_end(id, kWatchdogUs);
}

// Children talking to the group's loop while the group is destroyed, on that loop or
// elsewhere: posts fire once the loop is free again; a child waiting in post_sync on
// the blocked loop is released by its abort, so the destruction returns.
TEST(ParallelWorking, ChildrenPostToTheLoopDuringTheDestruction) {
  LoopThread lt;
  RunLoop* loop = lt.loop();
  for (int round = 0; round < 50; round++) {
    std::atomic<int> posted{0};
    std::atomic<int> fired{0};
    std::atomic<int> synced{0};
    std::atomic<int> started{0};
    std::atomic<bool> destroyed{false};
    ParallelWorking* group = new ParallelWorking(loop);
    for (int i = 0; i < 2; i++) {
      group->spawn_child([&, i](Thread& t) {
        started++;
        while (!t.is_abort()) {
          if (i == 0) {
            if (loop->post([&](SimpleEvent&) { fired++; })) posted++;
          } else {
            loop->post_sync([&](SimpleEvent&) { synced++; });
          }
          Thread::sleep(random(1, 100));
        }
        return 0;
      });
    }
    ASSERT_TRUE(wait_until([&] { return started.load() == 2; }));
    if (round % 2) {
      group->release();  // here, beside the loop
      destroyed.store(true);
    } else {
      loop->post([&](SimpleEvent&) {
        group->release();
        destroyed.store(true);
      });
    }
    ASSERT_TRUE(wait_until([&] { return destroyed.load(); })) << "round " << round;
    lt.drain();
    EXPECT_EQ(fired.load(), posted.load());
  }
}

const char kNotAwaken[] =
    "Only subthreads belonging to \"ParallelWorking\" can be awaken\n#\n# Fatal error in "
    "utils/loop, line 1034, func awaken_child";
const char kNotAborted[] =
    "Only subthreads belonging to \"ParallelWorking\" can be aborted\n#\n# Fatal error in "
    "utils/loop, line 1015, func abort_child";

TEST(ParallelWorkingDeathTest, ForeignAndEndedIdsAndNoLoop) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // A thread of its own, not of the group.
  auto foreign = [](std::function<void(ParallelWorking*, std::thread::id)> f) {
    LoopThread lt;
    ParallelWorking* group = new ParallelWorking(lt.loop());
    std::atomic<bool> stop{false};
    std::thread::id other = Thread::spawn([&](Thread&) {
      wait_until([&] { return stop.load(); });
      return 0;
    });
    f(group, other);
  };
  EXPECT_FATAL(foreign([](ParallelWorking* g, std::thread::id id) { g->awaken_child(id); }),
               kNotAwaken);
  EXPECT_FATAL(foreign([](ParallelWorking* g, std::thread::id id) { g->abort_child(id); }),
               kNotAborted);
  // A child whose function object has returned has left the group.
  auto ended = [](std::function<void(ParallelWorking*, std::thread::id)> f) {
    LoopThread lt;
    ParallelWorking* group = new ParallelWorking(lt.loop());
    std::thread::id child = group->spawn_child([](Thread&) { return 0; });
    wait_until([&] { return group->child_count() == 0; });
    f(group, child);
  };
  EXPECT_FATAL(ended([](ParallelWorking* g, std::thread::id id) { g->awaken_child(id); }),
               kNotAwaken);
  EXPECT_FATAL(ended([](ParallelWorking* g, std::thread::id id) { g->abort_child(id); }),
               kNotAborted);
  // The test's own thread is no framework thread: it has no loop and can have none.
  EXPECT_FATAL(new ParallelWorking(),
               "Can not find current thread run loop.\n#\n# Fatal error in utils/loop, line "
               "967, func ParallelWorking");
}

TEST(ParallelWorkingDeathTest, SpawnDuringProcessExitIsRefused) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        LoopThread lt;
        ParallelWorking* group = new ParallelWorking(lt.loop());
        std::atomic<int> ran{0};
        group->spawn_child([&](Thread& t) { return sleep_until_abort(t), ran++, 0; });
        Thread::Inl::exit(0, false);  // aborts every framework thread, does not end
        if (!Thread::is_process_exit()) _exit(1);
        if (group->spawn_child([](Thread&) { return 0; }) != std::thread::id()) _exit(2);
        group->release();  // the aborted child has ended or ends now
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
