// The asynchronous runtime: framework threads, process exit and run loops.
//
// Thread. Every thread started by `Thread::spawn` has a `Thread` record that other
// threads find by id (in the thread map, under the global thread mutex) to wake it
// from `sleep`, abort it or wait for its end. A thread may own one `RunLoop`.
//
// RunLoop. The message loop of one framework thread, over libuv. Any thread may post
// callbacks into it (optionally delayed), cancel them by id, post and wait
// (`post_sync`), submit jobs to libuv's thread pool (`work`), stop it or keep it alive
// (`keep_alive`, a `KeepLoop`). Only the owner thread runs it. The first loop created
// in the process is the main loop and runs on libuv's default loop.
//
// Every message and every done callback fires on the owner thread with
// `sync_callback`, error null and the loop as the event's data; no lock of this
// runtime is held while it fires or while it is released. An exception that a
// message, a done callback or a pool job throws (an Error or anything else) is logged
// through the console, and the loop goes on with its next message.
//
// Ids. Message, keep and work ids come from `iid32` and are never 0: 0 means
// "refused" as a result and "all" as an argument. A thread id is the system's
// `std::thread::id`; the default id ("no thread") is what `spawn` returns when the
// process is exiting.
//
// Lifetimes. A `Thread` record lives from `spawn` until its thread ends; the thread's
// loop is destroyed at the thread's end, on that thread, after its function object,
// and only then are waiters of `wait_for_end` released. A `KeepLoop` is released
// with `release()`; it may outlive its loop (it is then detached: posts return 0).
#ifndef NUBRIX_UTILS_LOOP_H
#define NUBRIX_UTILS_LOOP_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <type_traits>

#include "utils/cb.h"
#include "utils/list.h"
#include "utils/map.h"
#include "utils/object.h"
#include "utils/string.h"

typedef struct uv_loop_s uv_loop_t;

namespace nubrix {

// Thread ids as Map keys.
template <>
struct Compare<std::thread::id> {
  static uint32_t hash(const std::thread::id& key) {
    uint64_t v = (uint64_t)std::hash<std::thread::id>()(key);
    return (uint32_t)(v >> 32) ^ (uint32_t)v;
  }
  static bool equals(const std::thread::id& a, const std::thread::id& b, uint32_t, uint32_t) {
    return a == b;
  }
};

class RunLoop;
class KeepLoop;

// The mutex of a run loop. Posts and the dispatcher hold it for a few dozen
// instructions at a time, so a taker that finds it held waits in place for a while
// before it sleeps in the kernel (a sleep and its wake cost two system calls). Taking a
// free one is one atomic instruction, inline; releasing it is a plain store and a look
// at the count of sleepers. That look may see the count as it was before the store
// left the processor, and miss a taker that went to sleep in that moment: a sleep is
// therefore bounded (see kMaxSleepNs in utils/loop.cc) and the taker tries again.
class LoopMutex {
 public:
  LoopMutex() = default;
  LoopMutex(const LoopMutex&) = delete;
  LoopMutex& operator=(const LoopMutex&) = delete;
  void lock() {
    if (!try_lock()) lock_held();
  }
  bool try_lock() {
    int free = 0;
    return held_.compare_exchange_strong(free, 1, std::memory_order_acquire);
  }
  void unlock() {
    held_.store(0, std::memory_order_release);
    if (sleepers_.load(std::memory_order_relaxed) != 0) wake_sleeper();
  }

 private:
  void lock_held();
  void wake_sleeper();
  std::atomic<int> held_{0};      // 1 while held (the futex word)
  std::atomic<int> sleepers_{0};  // takers asleep on `held_` or about to be
};

// The start-up of the asynchronous runtime, in this order: the default file mode,
// the task registry, the thread support (exit handler, thread map, global mutex,
// waiter list, thread-specific-data key), the main thread id. It runs once, before
// `main`, from one static initialiser in utils/loop.cc; calling it again does nothing.
void runtime_initialize();
// The task registry's step of the start-up (defined with the tasks, in utils/cb.cc).
void task_registry_initialize();

class Thread {
 public:
  typedef std::function<int(Thread&)> Exec;
  static constexpr uint32_t kSpecificSlots = 256;

  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // The calling thread's id.
  static std::thread::id current_id();
  // The calling thread's record; null on any thread not started by `spawn`.
  static Thread* current();
  // Whether the calling thread owns the main loop.
  static bool is_main_thread();
  // Whether the process exit handler has begun.
  static bool is_process_exit();

  // Starts a framework thread on `exec` with the given name and returns its id, or
  // the default id when the process is exiting (nothing is started). The body sees its
  // own id, name and a cleared abort flag from its first instruction.
  static std::thread::id spawn(Exec exec, const String& name = String());
  // Sleeps the calling thread. Below half a second: a plain sleep. Otherwise (and for
  // timeout <= 0, "until awakened") waits on the calling thread's record, ended by
  // awaken, abort, the timeout or a spurious wake-up; an aborted thread does not sleep.
  // A timeout too large for the clock (more than about 31 years) means no limit.
  static void sleep(int64_t timeout_us = 0);
  // Wakes the thread from `sleep` (one signal). Unknown ids do nothing.
  static void awaken(std::thread::id id);
  // Sets the thread's abort flag, stops its loop and wakes it. Unknown ids do nothing.
  static void abort(std::thread::id id);
  // Waits until the thread has ended (its function object and its loop destroyed), at
  // most `timeout_us` microseconds (<= 0, or too large for the clock: no limit). The
  // caller's own id and unknown ids return at once.
  static void wait_for_end(std::thread::id id, int64_t timeout_us = 0);

  [[nodiscard]] std::thread::id id() const { return id_; }
  [[nodiscard]] String name() const { return name_; }
  [[nodiscard]] bool is_abort() const { return abort_.load(std::memory_order_acquire); }
  // The thread's loop, null until `RunLoop::current` created one.
  [[nodiscard]] RunLoop* loop() const;
  // 256 per-thread slots, all null at creation, for the thread's own use.
  void** specific_data() { return specific_; }

  class Inl;

 private:
  friend class Inl;
  friend class RunLoop;
  friend uint32_t post_to_loop(std::thread::id owner, RunLoop* loop, const Callback& cb);
  Thread();
  ~Thread();

  std::atomic<bool> abort_;
  std::mutex mutex_;
  std::condition_variable cond_;
  std::thread::id id_;
  String name_;
  void* specific_[kSpecificSlots];
  RunLoop* loop_;  // written under the global mutex by the loop's constructor/destructor
};

class Thread::Inl {
 public:
  typedef int (*ExitHook)(int code);
  // Ends the process: runs the exit hooks once, then the exit body (abort every
  // thread, stop its loop, wait up to one second for each; with `forced`, `exit(code)`).
  // On the main thread inside a running main loop the body is posted to that loop; in
  // a pool job (`work`) a forced body runs on a thread of its own. In both cases the
  // call returns. Only the first call does anything.
  static void exit(int code, bool forced = true);
  // Installs the two exit hooks (null: none); each takes and returns the exit code.
  static void set_exit_hooks(ExitHook first, ExitHook second);

  // Internal steps shared by abort, the exit handler and the thread's end.
  static void abort_record(Thread* t);  // under the global mutex
  static void set_abort(Thread* t);
  static RunLoop* loop_of(Thread* t);
  static void free_record(Thread* t);
  // The record's links, each checking its invariant (a broken one is fatal): the
  // calling thread gets `t` as its record and must have none yet; `t` gets `loop` and
  // must have no loop yet; `t`'s loop must be `loop` and is cleared. The loop links are
  // changed under the global mutex.
  static void set_thread_specific_data(Thread* t);
  static void set_run_loop(Thread* t, RunLoop* loop);
  static void del_run_loop(Thread* t, RunLoop* loop);
};

class RunLoop : public Object, public PostMessage {
 public:
  // What the queue holds of one message. `time` is on the monotonic clock in
  // microseconds, 0 = at once (a time past the clock's range is kept as INT64_MAX:
  // never due); `group` is 0 or the id of the keep it was posted through; `seq` is the
  // posting order (the value of iid's counter the id was taken from). Live messages of
  // one loop never share an id, also after the ids wrapped. The queue itself stores
  // these fields in flat entries, with a small posted lambda held in place.
  struct Queue {
    uint32_t id;
    uint32_t group;
    uint64_t time;
    uint64_t seq;
    Callback resolve;
  };
  struct Work;
  class Inl;

  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // The calling thread's loop, created on first use (the first loop of the process
  // becomes the main loop). The caller must be a framework thread (fatal otherwise).
  static RunLoop* current();
  // The main loop; creates it on the calling framework thread if none exists.
  static RunLoop* main_loop();
  // `current()->post(cb, delay_us)`.
  static uint32_t post_current(const Callback& cb, uint64_t delay_us = 0);
  // `current()->keep_alive(name, clean)`.
  static KeepLoop* keep_alive_current(const String& name, bool clean = true);
  // Stops / asks whether the loop of the thread with that id is alive (false, nothing
  // done, for an unknown id or a thread without a loop).
  static void stop(std::thread::id id);
  static bool is_alive(std::thread::id id);

  // Queues the callback to fire after `delay_us` microseconds. Returns its id, or 0
  // when the owner is aborted or the loop is being destroyed (nothing queued).
  uint32_t post(const Callback& cb, uint64_t delay_us = 0) override;
  // The same for a function object posted directly (a lambda): a small one is kept in
  // the queue itself, with no allocation; a larger one goes into a LambdaCallback.
  template <typename F, typename D = typename std::decay<F>::type,
            typename = typename std::enable_if<!std::is_same<D, Callback>::value &&
                                               !std::is_convertible<D, CallbackCore*>::value &&
                                               std::is_invocable<D&, SimpleEvent&>::value>::type>
  uint32_t post(F&& func, uint64_t delay_us = 0) {
    if constexpr (InlineCallback::fits<D>())
      return post_inline(InlineCallback(std::forward<F>(func)), delay_us);
    else
      return post(Callback(std::forward<F>(func)), delay_us);
  }
  // On the owner thread fires the callback at once. From another thread queues it and
  // returns once it has fired, or once it can no longer fire (cancelled, loop
  // destroyed, owner aborted, or the calling framework thread aborted before it began
  // to fire: it then never fires). Does nothing when the owner or the calling
  // framework thread is aborted.
  void post_sync(const Callback& cb);
  // Removes the queued message with that id (0 does nothing).
  void cancel(uint32_t id);
  // Runs `work` on libuv's thread pool, then `done` on the owner thread (not when the
  // work was cancelled). Returns the work id, 0 when the owner is aborted. The
  // submission to the pool is itself a message of this loop: a work asked for before
  // `run` (or while the loop is busy) does not start until the loop dispatches it.
  // Whatever `work` or `done` throws is logged, and the loop goes on.
  uint32_t work(const Callback& work, const Callback& done = Callback(),
                const String& name = String());
  // Cancels the work if it has not started yet (its done callback will not fire).
  void cancel_work(uint32_t id);
  // Ends the current `run` after the messages already queued have fired.
  void stop();
  // Whether `run` is active.
  [[nodiscard]] bool is_running() const;
  // Whether the loop has something to do: queued messages, keeps, works, or libuv
  // handles and requests of its own.
  [[nodiscard]] bool is_alive() const;
  // A new keep on this loop: while it exists the loop does not end on its own. With
  // `clean`, destroying the keep removes the messages still queued through it.
  KeepLoop* keep_alive(const String& name = String(), bool clean = true);
  // Runs the loop on its owner thread until it is stopped, its owner is aborted, or it
  // has been idle (no messages, keeps or works) for `keep_alive_us` microseconds.
  void run(int64_t keep_alive_us = 0);
  // A mutex of the application's (null: none) that the loop holds while it fires a
  // due message and while a work completes, so code that takes it elsewhere never runs
  // beside the loop's callbacks. It comes before every lock of the runtime: the loop
  // takes it with none of its own held.
  void set_outside_mutex(std::mutex* mutex);

  [[nodiscard]] Thread* thread() const { return thread_; }
  [[nodiscard]] std::thread::id thread_id() const { return thread_id_; }
  // The libuv loop; to be used on the owner thread only.
  [[nodiscard]] uv_loop_t* uv_loop() const { return uv_loop_; }

 private:
  friend class KeepLoop;
  friend class Thread;
  explicit RunLoop(Thread* thread);
  ~RunLoop() override;
  uint32_t post_inline(InlineCallback&& func, uint64_t delay_us);

  List<Work*> works_;
  List<KeepLoop*> keeps_;
  mutable LoopMutex mutex_;
  Thread* thread_;
  std::thread::id thread_id_;
  uv_loop_t* uv_loop_;
  Inl* inl_;  // libuv handles and the running state, see utils/loop.cc
};

class KeepLoop : public Object, public PostMessage {
 public:
  KeepLoop(const KeepLoop&) = delete;
  KeepLoop& operator=(const KeepLoop&) = delete;

  // As the loop's post, the message belonging to this keep's group. 0 when the loop is
  // gone or its owner is aborted.
  uint32_t post(const Callback& cb, uint64_t delay_us = 0) override;
  // Id non-zero: as the loop's cancel. Id 0: removes every queued message of this keep.
  void cancel(uint32_t id = 0);
  [[nodiscard]] uint32_t group() const { return group_; }
  [[nodiscard]] String name() const { return name_; }
  [[nodiscard]] bool is_clean() const { return clean_; }
  // Whether the loop still exists.
  [[nodiscard]] bool is_attached() const;

 private:
  friend class RunLoop;
  KeepLoop(RunLoop* loop, uint32_t group, const String& name, bool clean);
  ~KeepLoop() override;

  RunLoop* loop_;  // null once the loop is gone; read and written under the global mutex
  uint32_t group_;
  List<KeepLoop*>::Iterator node_;
  String name_;
  bool clean_;
};

// The reporting pattern of the asynchronous classes: with a loop, a heap copy of the
// error goes to the callback on that loop (as `async_callback` does); without one, or
// when the loop refuses the message, the callback fires at once on the calling thread.
void report_error(PostMessage* loop, const Error& error, const Callback& cb);

// ---------------------------------------------------------------------------------------
// Posting through a thread, and parallel workers

// Posts `cb` (no delay) to `loop` if that is still the loop of the framework thread
// `owner`. Both are checked under the global thread mutex, so a loop that has ended is
// never touched (for holders, such as tasks, that may outlive their loop). Returns the
// message id, 0 when nothing was posted.
uint32_t post_to_loop(std::thread::id owner, RunLoop* loop, const Callback& cb);

// A group of child threads started from a thread with a run loop. While the group exists
// it keeps that loop alive (a keep named "ParallelWorking()", clean flag set). Children
// are ordinary framework threads: they may sleep, own a run loop and watch their abort
// flag. Destroying the group (`release`) aborts every child and waits until each child's
// function object has returned and been destroyed, however long that takes; spawns
// asked for from then on are refused.
//
// A child leaves the group when its function object returns; from then on its id is a
// stranger's to `awaken_child` and `abort_child` (fatal). The group may be destroyed on
// any thread, a child's included (that child is then aborted but not waited for).
//
// Destroying the group on its loop's thread blocks that loop until the children have
// ended. A child waiting in `post_sync` on that loop is not a deadlock: its abort ends
// the wait (the callback then never fires); its posts fire once the loop is free.
class ParallelWorking : public Object {
 public:
  // The loop null: the calling thread's loop (created if needed); fatal when the
  // calling thread has none and can have none (it was not started by Thread::spawn).
  explicit ParallelWorking(RunLoop* loop = nullptr);
  ParallelWorking(const ParallelWorking&) = delete;
  ParallelWorking& operator=(const ParallelWorking&) = delete;

  // Starts a child thread on `exec` with the given name and returns its id, or the
  // default id when the process is exiting or the group is being destroyed.
  std::thread::id spawn_child(Thread::Exec exec, const String& name = String());
  // Wakes the child from `sleep`; the default id wakes every child. Fatal for an id that
  // is not a living child of this group.
  void awaken_child(std::thread::id id = std::thread::id());
  // Aborts the child (its abort flag set, its loop stopped, woken) and waits until its
  // function object has ended; the default id aborts every child, then waits for all
  // (not for the calling thread). Fatal for an id that is not a living child.
  void abort_child(std::thread::id id = std::thread::id());
  // The number of living children.
  [[nodiscard]] uint32_t child_count() const;
  [[nodiscard]] RunLoop* loop() const { return loop_; }

  class Inl;

 private:
  ~ParallelWorking() override;

  RunLoop* loop_;
  KeepLoop* keep_;
  Inl* inl_;  // the child map and its mutex, shared with the children's wrappers
};

}  // namespace nubrix

#endif
