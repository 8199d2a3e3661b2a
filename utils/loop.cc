// Threads, process exit and run loops.
//
// Lock order, outermost first:
//   a loop's outside mutex (the application's, taken with no runtime lock held) ->
//   global thread mutex -> a thread's mutex -> a loop's mutex -> a post_sync wait state's
//   mutex; a ListenSignal's mutex is taken only under the global mutex (by the ending
//   thread) or alone (by its waiter); the task registry mutex comes before a loop's mutex.
// No lock of this file is held while a callback, a work, a keep or a task is fired or
// released: entries are unlinked under the lock and released after every lock is
// dropped (the released callback may own a KeepLoop or the last reference of a task,
// whose destructors take these mutexes again).
//
// Thread ids are the system's, and the system reuses an id once its thread has ended.
// A record leaves the thread map under the global mutex before its thread can end, and
// every operation by id looks the record up under that mutex, so a stale id finds
// either nothing (the operation does nothing) or a live framework thread that took the
// id over; callers that keep ids (worker groups) drop them when the thread's body ends.
#include "utils/loop.h"

#include <errno.h>
#include <linux/futex.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#include <uv.h>

#include <chrono>
#include <exception>
#include <system_error>
#include <utility>
#include <vector>

#include "utils/console.h"
#include "utils/error.h"
#include "utils/fs.h"
#include "utils/util.h"

namespace nubrix {

namespace {

// A waiter of wait_for_end, on its own stack.
struct ListenSignal {
  Thread* target;
  std::mutex mutex;
  std::condition_variable cond;
  bool ended;
};

// The thread support. Created once before main and never destroyed: threads that
// outlive the exit handler may still use it while the process ends.
struct Runtime {
  std::mutex mutex;
  Map<std::thread::id, Thread*> threads;
  List<ListenSignal*> waiters;
  pthread_key_t key;
};

Runtime* runtime_state = nullptr;
std::atomic<RunLoop*> main_loop_ptr{nullptr};
std::atomic<std::thread::id> main_thread_id{std::thread::id()};
std::atomic<int32_t> exit_count{0};
std::atomic<int32_t> exit_call_count{0};
std::atomic<bool> exit_waits_over{false};
// Set on a libuv pool thread while it runs a pool job.
thread_local bool in_pool_job = false;
std::atomic<Thread::Inl::ExitHook> exit_hook1{nullptr};
std::atomic<Thread::Inl::ExitHook> exit_hook2{nullptr};

// Timeouts beyond this many microseconds (about 31 years) mean "no limit": a clock's
// time point that far ahead is not representable, and the wait would end at once.
constexpr int64_t kMaxTimeoutUs = (int64_t)1000000 * 3600 * 24 * 365 * 31;

bool is_unlimited(int64_t timeout_us) {
  return timeout_us <= 0 || timeout_us > kMaxTimeoutUs;
}

void nano_sleep(int64_t us) {
  struct timespec ts = {(time_t)(us / 1000000), (long)(us % 1000000) * 1000};
  while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
  }
}

void thread_end(Thread* t);

void key_destructor(void* value) {
  // Reached only when a body left its thread without returning (pthread_exit): end it
  // as the body would, with the record still visible to current().
  Runtime* r = runtime_state;
  pthread_setspecific(r->key, value);
  thread_end((Thread*)value);
}

void process_exit_handler();

void thread_initialize() {
  atexit(process_exit_handler);
  Runtime* r = new Runtime();
  if (pthread_key_create(&r->key, key_destructor) != 0)
    fatal("utils/loop", 96, "thread_initialize");
  runtime_state = r;
}

Runtime* runtime() {
  if (!runtime_state) runtime_initialize();
  return runtime_state;
}

// Aborts every framework thread, stops its loop and waits up to one second for each;
// with `forced` ends the process. Only the first entry does anything.
void exit_body(int code, bool forced) {
  if (exit_count.fetch_add(1) != 0) return;
  Runtime* r = runtime();
  List<std::thread::id> ids;
  {
    std::lock_guard<std::mutex> g(r->mutex);
    for (auto it = r->threads.begin(); it != r->threads.end(); ++it) {
      Thread* t = it.value();
      Thread::Inl::abort_record(t);
      ids.push(it.key());
    }
  }
  for (auto it = ids.begin(); it != ids.end(); ++it) Thread::wait_for_end(*it, 1000000);
  exit_waits_over.store(true);
  if (forced) ::exit(code);
}

void process_exit_handler() {
  exit_body(0, false);
}

// The start-up order, in one place.
const bool runtime_initialized = (runtime_initialize(), true);

}  // namespace

void runtime_initialize() {
  static std::once_flag once;
  std::call_once(once, [] {
    default_mode();
    task_registry_initialize();
    thread_initialize();
    main_thread_id.store(std::thread::id());
  });
}

// ---------------------------------------------------------------------------------------
// Threads

Thread::Thread() : abort_(false), loop_(nullptr) {
  for (uint32_t i = 0; i < kSpecificSlots; i++) specific_[i] = nullptr;
}

Thread::~Thread() = default;

std::thread::id Thread::current_id() {
  return std::this_thread::get_id();
}

Thread* Thread::current() {
  return (Thread*)pthread_getspecific(runtime()->key);
}

bool Thread::is_main_thread() {
  return main_thread_id.load() == std::this_thread::get_id();
}

bool Thread::is_process_exit() {
  return exit_count.load() != 0;
}

RunLoop* Thread::loop() const {
  std::lock_guard<std::mutex> g(runtime()->mutex);
  return loop_;
}

namespace {

void thread_body(Thread* t, Thread::Exec* exec) {
  Runtime* r = runtime();
  // The spawner holds the global mutex until id, name and flag are stored.
  { std::lock_guard<std::mutex> gate(r->mutex); }
  Thread::Inl::set_thread_specific_data(t);
  if (!t->is_abort()) (*exec)(*t);
  Thread::Inl::set_abort(t);
  delete exec;
  thread_end(t);
}

// The end of a framework thread: its loop is destroyed (still on this thread, with the
// record in place), then the record leaves the map and the waiters are released.
void thread_end(Thread* t) {
  Runtime* r = runtime();
  Thread::Inl::set_abort(t);
  // Once the exit handler has given up waiting, the process is ending around this
  // thread: its loop is left alone.
  if (!exit_waits_over.load()) {
    RunLoop* loop = Thread::Inl::loop_of(t);
    if (loop) loop->release();
  }
  {
    std::lock_guard<std::mutex> g(r->mutex);
    r->threads.remove(t->id());
    for (auto it = r->waiters.begin(); it != r->waiters.end(); ++it) {
      ListenSignal* sig = *it;
      if (sig->target != t) continue;
      std::lock_guard<std::mutex> l(sig->mutex);
      sig->target = nullptr;
      sig->ended = true;
      sig->cond.notify_all();
    }
  }
  pthread_setspecific(r->key, nullptr);
  Thread::Inl::free_record(t);
}

}  // namespace

std::thread::id Thread::spawn(Exec exec, const String& name) {
  Runtime* r = runtime();
  std::lock_guard<std::mutex> g(r->mutex);
  // Tested under the global mutex: the exit handler counts itself in before it takes
  // the mutex, so a thread inserted here is seen by it.
  if (exit_count.load() != 0) return std::thread::id();
  Thread* t = new Thread();
  Exec* body = new Exec(std::move(exec));
  try {
    std::thread sys(thread_body, t, body);
    t->id_ = sys.get_id();
    t->name_ = name;
    t->abort_.store(false);
    r->threads.set(t->id_, t);
    sys.detach();
  } catch (const std::system_error& e) {
    delete body;
    delete t;
    throw Error(ERR_UNKNOWN, String::format("Cannot start thread: %s", e.what()));
  }
  return t->id_;
}

void Thread::sleep(int64_t timeout_us) {
  if (timeout_us > 0 && (double)timeout_us < 500000) {
    nano_sleep(timeout_us);
    return;
  }
  Thread* t = current();
  if (!t) {
    log("Cannot find current nubrix::Thread handle, use std::this_thread::sleep_for()");
    if (timeout_us > 0) nano_sleep(timeout_us);
    return;
  }
  std::unique_lock<std::mutex> l(t->mutex_);
  if (t->is_abort()) {
    l.unlock();
    log("Thread aborted, cannot sleep");
    return;
  }
  // One wake-up, spurious or not, ends the sleep.
  if (is_unlimited(timeout_us))
    t->cond_.wait(l);
  else
    t->cond_.wait_for(l, std::chrono::microseconds(timeout_us));
}

void Thread::awaken(std::thread::id id) {
  Runtime* r = runtime();
  std::lock_guard<std::mutex> g(r->mutex);
  Thread** t = r->threads.get(id);
  if (!t) return;
  std::lock_guard<std::mutex> l((*t)->mutex_);
  (*t)->cond_.notify_one();
}

void Thread::abort(std::thread::id id) {
  Runtime* r = runtime();
  std::lock_guard<std::mutex> g(r->mutex);
  Thread** t = r->threads.get(id);
  if (t) Inl::abort_record(*t);
}

void Thread::wait_for_end(std::thread::id id, int64_t timeout_us) {
  if (id == std::this_thread::get_id()) return;
  Runtime* r = runtime();
  std::unique_lock<std::mutex> g(r->mutex);
  Thread** t = r->threads.get(id);
  if (!t) return;
  ListenSignal sig;
  sig.target = *t;
  sig.ended = false;
  auto node = r->waiters.push(&sig);
  {
    std::unique_lock<std::mutex> l(sig.mutex);
    g.unlock();
    if (is_unlimited(timeout_us))
      sig.cond.wait(l, [&] { return sig.ended; });
    else
      sig.cond.wait_for(l, std::chrono::microseconds(timeout_us), [&] { return sig.ended; });
  }
  g.lock();
  r->waiters.erase(node);
}

void Thread::Inl::set_exit_hooks(ExitHook first, ExitHook second) {
  exit_hook1.store(first);
  exit_hook2.store(second);
}

void Thread::Inl::exit(int code, bool forced) {
  if (exit_call_count.fetch_add(1) != 0) return;
  Runtime* r = runtime();
  KeepLoop* keep = nullptr;
  {
    std::lock_guard<std::mutex> g(r->mutex);
    RunLoop* m = main_loop_ptr.load();
    if (m && m->is_running()) keep = m->keep_alive("Thread::Inl::exit()", true);
  }
  ExitHook h1 = exit_hook1.load(), h2 = exit_hook2.load();
  if (h1) code = h1(code);
  if (h2) code = h2(code);
  release(keep);

  Callback body([code, forced](SimpleEvent&) { exit_body(code, forced); });
  {
    std::unique_lock<std::mutex> g(r->mutex);
    RunLoop* m = main_loop_ptr.load();
    if (m && is_main_thread() && m->is_running() && m->post(body) != 0) {
      g.unlock();
      nano_sleep(10000);
      return;
    }
  }
  // A pool thread cannot end the process: libuv's teardown at exit joins every pool
  // thread, this one too, and aborts when that fails. The exit goes on on a thread of
  // its own while the job returns.
  if (forced && in_pool_job) {
    try {
      std::thread([code] { exit_body(code, true); }).detach();
      return;
    } catch (const std::system_error&) {
      // no thread to hand it to: ended here after all
    }
  }
  // No running main loop to end on, or it refused the message: end here.
  if (exit_count.load() == 0) exit_body(code, forced);
}

void Thread::Inl::set_abort(Thread* t) {
  t->abort_.store(true);
}

RunLoop* Thread::Inl::loop_of(Thread* t) {
  std::lock_guard<std::mutex> g(runtime()->mutex);
  return t->loop_;
}

void Thread::Inl::free_record(Thread* t) {
  delete t;
}

void Thread::Inl::set_thread_specific_data(Thread* t) {
  Runtime* r = runtime();
  if (pthread_getspecific(r->key)) fatal("utils/loop", 100, "set_thread_specific_data");
  pthread_setspecific(r->key, t);
}

void Thread::Inl::set_run_loop(Thread* t, RunLoop* loop) {
  if (t->loop_) fatal("utils/loop", 109, "set_run_loop");
  t->loop_ = loop;
}

void Thread::Inl::del_run_loop(Thread* t, RunLoop* loop) {
  if (!t->loop_) fatal("utils/loop", 114, "del_run_loop");
  if (t->loop_ != loop) fatal("utils/loop", 115, "del_run_loop");
  t->loop_ = nullptr;
}

// ---------------------------------------------------------------------------------------
// Run loops

namespace {

// A pause between two looks at a held lock.
inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

}  // namespace

// The longest sleep of a taker of a held LoopMutex. A release that missed the sleeper
// costs it at most this; a holder that keeps the mutex longer costs one wake-up of each
// sleeper per period.
constexpr long kMaxSleepNs = 1000000;

// The holder is nearly always on another processor and done within a few dozen
// instructions: the lock is watched (read, not written: every attempt to take it would
// take its line from the holder) with growing pauses, up to about 6 000 pauses in all,
// before the taker counts itself a sleeper and sleeps on the futex (the kernel lets it
// sleep only while the mutex is still held). The sleep remains for a holder that lost
// its processor.
void LoopMutex::lock_held() {
  for (int i = 0, pauses = 1; i < 100; i++) {
    for (int k = 0; k < pauses; k++) relax();
    if (pauses < 64) pauses *= 2;
    if (held_.load(std::memory_order_relaxed) == 0 && try_lock()) return;
  }
  for (;;) {
    sleepers_.fetch_add(1, std::memory_order_seq_cst);
    if (held_.load(std::memory_order_seq_cst) != 0) {
      timespec limit = {0, kMaxSleepNs};
      syscall(SYS_futex, &held_, FUTEX_WAIT_PRIVATE, 1, &limit, nullptr, 0);
    }
    sleepers_.fetch_sub(1, std::memory_order_relaxed);
    if (try_lock()) return;
  }
}

void LoopMutex::wake_sleeper() {
  syscall(SYS_futex, &held_, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

namespace {

constexpr uint64_t kIdWrap = 4294967295u;  // ids are the counter modulo this

// One message in a loop's queue: a callback core (owned: one reference), or a small
// function object held in place (`core` null). `seq` is the value of iid's counter its
// id was taken from; taken under the loop's mutex, it is also the posting order. An
// entry of a batch being fired is removed by setting its id to 0 (the only field
// written while the dispatcher reads the batch without the lock); the dispatcher then
// skips it and releases its core. The dispatcher itself writes nothing into the
// entries: the lines go back to the posting threads clean. One entry is one cache
// line, so a post filling the next entry never shares a line with the one being fired.
struct alignas(64) Message {
  uint32_t id;
  uint32_t group;
  uint64_t time;
  uint64_t seq;
  CallbackCore* core;
  InlineCallback func;

  [[nodiscard]] uint32_t live_id() const { return __atomic_load_n(&id, __ATOMIC_RELAXED); }
  [[nodiscard]] bool is_due(int64_t now) const { return time == 0 || (int64_t)time <= now; }
  void remove() { __atomic_store_n(&id, 0, __ATOMIC_RELAXED); }
  void release() {
    if (core) core->release();
    core = nullptr;
  }
};
static_assert(std::is_trivially_copyable<Message>::value, "messages move as plain bytes");
static_assert(sizeof(Message) == 64, "one entry per cache line");

// Entries are kept in blocks of this many (16 KiB): a post copies its entry into the
// last block, with no allocation while the loop has spare blocks, and nothing is ever
// moved when the queue grows.
constexpr uint32_t kBlockMessages = 255;
// Spare blocks a loop keeps for its next posts: 1 024 blocks, about 261 000 entries or
// 16 MiB, held only after a burst that large; the rest of a burst's blocks are freed.
constexpr uint32_t kMaxSpareBlocks = 1024;

constexpr uint32_t kPrefetchAhead = 4;
// Rounds of one dispatch: messages posted while a batch fires are fired in the same
// dispatch, up to this many batches, without a wake-up through libuv (three system
// calls each); then libuv's other events have their turn.
constexpr int kDispatchRounds = 8;

struct Block {
  Message m[kBlockMessages];
  uint32_t size;
  Block* next;
};

Block* new_block() {
  Block* b = new Block;
  b->size = 0;
  b->next = nullptr;
  return b;
}

// Frees a chain of blocks.
void free_blocks(Block* b) {
  while (b) {
    Block* next = b->next;
    delete b;
    b = next;
  }
}

// The spare blocks of one loop, guarded by its mutex. Blocks are made and freed with
// the mutex released: an allocation, and the first touch of its pages, must not hold
// up the dispatcher or other posts. Blocks given back beyond the spares wait in
// `excess` until the dispatcher frees them, after its lock. Spares are reused oldest
// first: the block fired last still has its lines in the dispatcher's cache, and a post
// filling it would have to take back every line from there while holding the mutex.
class BlockPool {
 public:
  BlockPool() = default;
  BlockPool(const BlockPool&) = delete;
  BlockPool& operator=(const BlockPool&) = delete;
  ~BlockPool() {
    free_blocks(spare);
    free_blocks(excess);
  }
  [[nodiscard]] bool empty() const { return spare == nullptr; }
  [[nodiscard]] bool is_full() const { return count >= kMaxSpareBlocks; }
  // A spare block, null when there is none.
  Block* get() {
    Block* b = spare;
    if (!b) return nullptr;
    spare = b->next;
    if (!spare) spare_tail = nullptr;
    count--;
    b->size = 0;
    b->next = nullptr;
    return b;
  }
  // Keeps the block; `spare_only`: beyond the spares it goes to `excess`.
  void put(Block* b, bool spare_only = true) {
    if (spare_only && count >= kMaxSpareBlocks) {
      b->next = excess;
      excess = b;
      return;
    }
    b->next = nullptr;
    if (spare_tail)
      spare_tail->next = b;
    else
      spare = b;
    spare_tail = b;
    count++;
  }
  // Adds the chain `first` .. `last` to the excess.
  void put_excess(Block* first, Block* last) {
    last->next = excess;
    excess = first;
  }
  // The blocks to free, for the caller to free after the lock.
  Block* take_excess() {
    Block* b = excess;
    excess = nullptr;
    return b;
  }

 private:
  Block* spare = nullptr;
  Block* spare_tail = nullptr;
  Block* excess = nullptr;
  uint32_t count = 0;
};

// Removed callback cores, released when the list is destroyed (after every lock is
// dropped).
class Removed {
 public:
  Removed() = default;
  Removed(const Removed&) = delete;
  Removed& operator=(const Removed&) = delete;
  ~Removed() { release(); }
  void release() {
    for (CallbackCore* core : cores) core->release();
    cores.clear();
  }
  void push(CallbackCore* core) {
    if (core) cores.push_back(core);
  }

 private:
  std::vector<CallbackCore*> cores;
};

// Messages in posting order, in a chain of blocks taken from the loop's pool (none: from
// the heap). A removed entry stays in place with id 0 and no core. `live` counts the
// entries not removed. The destructor releases the cores still held.
class Messages {
 public:
  explicit Messages(BlockPool* p = nullptr) : pool(p) {}
  Messages(const Messages&) = delete;
  Messages& operator=(const Messages&) = delete;
  ~Messages() { clear(); }

  [[nodiscard]] bool empty() const { return live == 0; }
  // Whether the next entry needs a new block.
  [[nodiscard]] bool full() const { return !tail || tail_used == kBlockMessages; }
  // The entries in use in a block of this list. The last block's count is kept here,
  // beside the list's other fields, so a post does not touch the block's header line.
  [[nodiscard]] uint32_t used(const Block* b) const { return b == tail ? tail_used : b->size; }
  void push(const Message& m) { slot() = m; }
  // A new entry at the end, to be filled in by the caller.
  Message& slot() {
    if (!tail || tail_used == kBlockMessages) add_block();
    live++;
    uint32_t i = tail_used++;
    // The lines of the next entries were last read by the dispatcher's thread: they are
    // asked for ahead, so a run of posts does not wait for each in turn.
    if (i + kPrefetchAhead < kBlockMessages) __builtin_prefetch(&tail->m[i + kPrefetchAhead], 1);
    return tail->m[i];
  }
  // The posting order of the first entry (removed or not); `none` when there is none.
  [[nodiscard]] uint64_t front_seq(uint64_t none) const {
    return head && used(head) ? head->m[0].seq : none;
  }
  // Calls `f(Message&)` on every entry, removed ones included, in order.
  template <typename F>
  void each(const F& f) const {
    for (Block* b = head; b; b = b->next) {
      for (uint32_t i = 0, n = used(b); i < n; i++) f(b->m[i]);
    }
  }
  // Removes the entry (it must be live here), its core going to `out`.
  void take(Message& m, Removed& out) {
    out.push(m.core);
    m.core = nullptr;
    m.remove();
    live--;
  }
  // Swaps the entries, not the pools.
  void swap(Messages& o) {
    std::swap(head, o.head);
    std::swap(tail, o.tail);
    std::swap(live, o.live);
    std::swap(tail_used, o.tail_used);
  }
  // Empties the list; `release`: the cores still held are released.
  void clear(bool release = true) {
    while (head) {
      if (!release && pool && pool->is_full()) {
        // The rest goes to the pool's excess whole, without a walk under the lock.
        pool->put_excess(head, tail);
        head = nullptr;
        break;
      }
      Block* b = head;
      head = b->next;
      if (release) {
        for (uint32_t i = 0, n = used(b); i < n; i++) b->m[i].release();
      }
      if (pool)
        pool->put(b);
      else
        delete b;
    }
    tail = nullptr;
    live = 0;
    tail_used = 0;
  }

  Block* head = nullptr;
  Block* tail = nullptr;
  size_t live = 0;
  uint32_t tail_used = 0;

 private:
  void add_block() {
    Block* b = pool ? pool->get() : nullptr;
    if (!b) b = new_block();
    for (uint32_t i = 0; i < kPrefetchAhead; i++) __builtin_prefetch(&b->m[i], 1);
    if (tail) tail->size = tail_used;
    tail_used = 0;
    if (tail)
      tail->next = b;
    else
      head = b;
    tail = b;
  }
  BlockPool* pool;
};

// Under the mutex: calls `f(Message&)` on each queued entry of `list`, in order, until
// it returns true. For the batch being fired, `started` entries have begun to fire
// (their firing is over or under way, unless they were not due at `now`).
template <typename F>
void each_queued(const Messages& list, size_t started, int64_t now, const F& f) {
  size_t k = 0;
  for (Block* b = list.head; b; b = b->next) {
    for (uint32_t i = 0, n = list.used(b); i < n; i++, k++) {
      Message& m = b->m[i];
      if (m.live_id() == 0 || (k < started && m.is_due(now))) continue;
      if (f(m)) return;
    }
  }
}

// Walks the live entries of a list, in order; `m` is null at the end.
class Cursor {
 public:
  explicit Cursor(const Messages& list) : list_(list), b_(list.head) { settle(); }
  void next() {
    i_++;
    settle();
  }
  Message* m = nullptr;

 private:
  void settle() {
    m = nullptr;
    for (; b_; b_ = b_->next, i_ = 0) {
      for (uint32_t n = list_.used(b_); i_ < n; i_++) {
        if (b_->m[i_].live_id() != 0) {
          m = &b_->m[i_];
          return;
        }
      }
    }
  }
  const Messages& list_;
  Block* b_;
  uint32_t i_ = 0;
};

}  // namespace

// The running state and libuv handles of a loop. Fields marked (mutex) are guarded by the
// loop's mutex; (owner) ones are touched only on the owner thread.
//
// The queue is three runs of entries in posting order: `incoming` (posted since the
// last dispatch), `delayed` (not due at the last dispatch) and `batch` (being fired). A
// dispatch takes the whole queue under one lock (a swap when nothing waits for its
// time) and fires the batch without the lock; removals (cancel, clean keeps) reach the
// batch's entries by clearing their ids, so firing takes no lock and no atomic
// read-modify-write per message. A post sends the async handle only when no dispatch is
// already on its way (`wake_pending`), and sends it after releasing the mutex. Messages
// posted while a batch fires are taken by the same lock that ends the batch and fired
// in further rounds of the same dispatch (up to kDispatchRounds).
class RunLoop::Inl {
 public:
  explicit Inl(RunLoop* h) : host(h) {}
  Inl(const Inl&) = delete;
  Inl& operator=(const Inl&) = delete;

  // Under the mutex: queues the entry; takes over the core.
  void enqueue(uint32_t id, uint32_t group, uint64_t time, uint64_t seq, CallbackCore* core,
               const InlineCallback& func) {
    // Field by field: a whole temporary copied in would be stored in pieces and read
    // back in wide loads, which stalls the store buffer.
    Message& m = incoming.slot();
    m.id = id;
    m.group = group;
    m.time = time;
    m.seq = seq;
    m.core = core;
    m.func = func;
  }

  RunLoop* host;
  uv_async_t async_h;
  uv_timer_t timer_h;
  bool running = false;     // (mutex) run is active
  bool stopping = false;    // (mutex) a stop fired during this run
  uint64_t generation = 0;  // (mutex) number of runs; a stop belongs to one run
  int64_t keep_alive = 0;   // (mutex)
  int64_t idle_since = 0;   // (mutex)
  // What every post reads and writes, on cache lines of its own: the dispatcher writes
  // its own fields below for every message it fires, and a shared line would cost the
  // posting thread a miss per post.
  alignas(64) bool accepting = false;  // (mutex) the async handle is open: posts send it
  bool destroying = false;             // (mutex) the destructor has begun: posts are refused
  bool wake_pending = false;           // (mutex) the async handle was sent since the last take
  std::atomic<int32_t> senders{0};     // sends claimed under the mutex and not yet done
  BlockPool pool;                      // (mutex)
  Messages incoming{&pool};            // (mutex)
  Messages delayed{&pool};             // (mutex)
  // The dispatcher's side.
  alignas(64) Messages batch{&pool};    // (owner) filled and emptied under the mutex
  size_t started = 0;                   // (owner writes, atomic) batch entries begun to fire
  bool firing = false;                  // (mutex) the batch is being fired
  int64_t batch_now = 0;                // (mutex) the clock the batch is fired against
  alignas(64) uint32_t keep_count = 0;  // (mutex)
  uint32_t work_count = 0;              // (mutex)
  std::mutex* outside = nullptr;        // (mutex) the application's mutex held while firing
  int32_t closed = 0;                   // (owner) close callbacks seen in this run
  int32_t orphans = 0;                  // (owner) works left in libuv's hands by the destructor

  // Under the mutex: makes the dispatcher run soon. A send that is still on its way
  // (the dispatcher has not taken the queue since) already covers this one.
  void send() {
    if (claim_wake()) wake();
  }
  // Under the mutex: the part of `send` that decides. True when the caller must call
  // `wake`, which it does after releasing the mutex: the send is a system call that
  // also wakes the owner, and the owner's first step is to take the mutex.
  bool claim_wake() {
    if (!accepting || wake_pending) return false;
    wake_pending = true;
    senders.fetch_add(1, std::memory_order_relaxed);
    return true;
  }
  // With or without the mutex, after `claim_wake`: sends the async handle. The handle
  // is not closed while a send is on its way (see `close_handles`).
  void wake() {
    uv_async_send(&async_h);
    senders.fetch_sub(1, std::memory_order_release);
  }
  // Queues `func`, or with `cb` set the core `cb` holds (taken over only when queued).
  uint32_t post(Callback* cb, const InlineCallback& func, uint64_t delay_us, uint32_t group);
  static uint64_t due_time(uint64_t delay_us);
  [[gnu::noinline, gnu::cold]] bool add_spare_block();
  // Under the mutex: a new message id and its counter value (`seq`).
  uint32_t message_id(uint64_t* seq) {
    uint64_t v = iid();
    uint32_t id = (uint32_t)(v % kIdWrap);
    // An id that has not come back since the wrap (every queued message is younger
    // than one wrap) is free; others are checked against the queue.
    if (id != 0 && (v < kIdWrap || v - oldest_seq(v) < kIdWrap)) {
      *seq = v;
      return id;
    }
    return message_id_after_wrap(v, seq);
  }
  uint32_t message_id_after_wrap(uint64_t v, uint64_t* seq);
  [[nodiscard]] uint64_t oldest_seq(uint64_t v) const;
  bool id_in_use(uint32_t id) const;
  [[nodiscard]] size_t batch_started() const { return __atomic_load_n(&started, __ATOMIC_RELAXED); }
  [[nodiscard]] bool has_messages() const {
    return !incoming.empty() || !delayed.empty() || firing;
  }
  void take_group(uint32_t group, Removed& out);
  void queue_stop();
  void close_handles();
  void dispatch();
  void fire_batch(int64_t now, std::mutex* outside_mutex, size_t& fired, size_t& not_due);
  // `now`: the clock read just before the mutex was taken.
  bool decide(bool fired, int64_t now);
  void drop_queue();

  void take_id(uint32_t id, Removed& out);
  static void submit(Work* w);
  static void stop_for_abort(RunLoop* loop);
  static void on_async(uv_async_t* h) { ((Inl*)h->data)->dispatch(); }
  static void on_timer(uv_timer_t* h) { ((Inl*)h->data)->dispatch(); }
  static void on_close(uv_handle_t* h) { ((Inl*)h->data)->closed++; }
  static void on_work(uv_work_t* req);
  static void on_work_done(uv_work_t* req, int status);
};

struct RunLoop::Work {
  RunLoop* host;
  uint32_t id;
  Callback work;
  Callback done;
  uv_work_t req;
  List<Work*>::Iterator node;
  String name;
  bool orphan;  // its loop was destroyed: the completion only frees the record
};

namespace {

// Messages, done callbacks and pool jobs run below libuv's C frames, where nothing could
// catch an exception: it is logged and the loop goes on with its next message.
void fire(const Callback& cb, Object* data) {
  call_logging_exceptions([&] { sync_callback(cb, nullptr, data); });
}

// Holds the loop's outside mutex, if one is set, for one firing.
class OutsideLock {
 public:
  explicit OutsideLock(std::mutex* m) : m_(m) {
    if (m_) m_->lock();
  }
  ~OutsideLock() {
    if (m_) m_->unlock();
  }
  OutsideLock(const OutsideLock&) = delete;
  OutsideLock& operator=(const OutsideLock&) = delete;

 private:
  std::mutex* m_;
};

// The message that submits a work to the thread pool on the owner thread. Released
// unfired (cancelled, loop destroyed), it frees the work record.
class SubmitWork : public CallbackCore {
 public:
  explicit SubmitWork(RunLoop::Work* w) : work_(w) {}
  ~SubmitWork() override { delete work_; }
  void call(SimpleEvent&) override;

 private:
  RunLoop::Work* work_;
};

// The wait state of one post_sync, shared by the waiter and the message: the waiter
// waits on the state's own mutex, so it never touches the loop after posting.
class SyncState : public Reference {
 public:
  void finish() {
    std::lock_guard<std::mutex> l(mutex);
    finished = true;
    cond.notify_all();
  }
  // The message may fire; false when the waiter gave up before it began.
  bool begin() {
    std::lock_guard<std::mutex> l(mutex);
    if (abandoned) return false;
    started = true;
    return true;
  }
  std::mutex mutex;
  std::condition_variable cond;
  bool started = false;    // the caller's callback has begun to fire
  bool finished = false;   // it has fired, or it never will
  bool abandoned = false;  // the waiter was aborted first: the callback must not fire
};

// Fires the caller's callback, then marks the state finished. Released unfired
// (cancelled, dropped, loop destroyed) it marks it finished too. A waiter that gave up
// (its thread was aborted) before the message fired is not called back: the callback
// may refer to the waiter's stack.
class SyncMessage : public CallbackCore {
 public:
  SyncMessage(const Callback& inner, SyncState* state) : inner_(inner), state_(state) {
    state_->retain();
  }
  ~SyncMessage() override {
    inner_ = Callback();
    state_->finish();
    state_->release();
  }
  void call(SimpleEvent& evt) override {
    if (state_->begin()) fire(inner_, evt.data);
    state_->finish();
  }

 private:
  Callback inner_;
  SyncState* state_;
};

}  // namespace

void SubmitWork::call(SimpleEvent&) {
  RunLoop::Work* w = work_;
  work_ = nullptr;
  RunLoop::Inl::submit(w);
}

RunLoop::RunLoop(Thread* thread)
    : thread_(thread), thread_id_(thread->id()), uv_loop_(nullptr), inl_(new Inl(this)) {}

RunLoop* RunLoop::current() {
  Thread* t = Thread::current();
  if (!t) fatal("utils/loop", 676, "current", "Can't get thread specific data");
  // Only this thread sets or clears its own loop.
  if (t->loop_) return t->loop_;
  Runtime* r = runtime();
  std::lock_guard<std::mutex> g(r->mutex);
  if (t->loop_) fatal("utils/loop", 109, "set_run_loop");  // before anything is made
  RunLoop* loop = new RunLoop(t);
  if (!main_loop_ptr.load()) {
    loop->uv_loop_ = uv_default_loop();
    main_thread_id.store(t->id());
    main_loop_ptr.store(loop);
  } else {
    loop->uv_loop_ = (uv_loop_t*)malloc(sizeof(uv_loop_t));
    if (!loop->uv_loop_ || uv_loop_init(loop->uv_loop_) != 0)
      fatal("utils/loop", 109, "set_run_loop");
  }
  Thread::Inl::set_run_loop(t, loop);
  return loop;
}

RunLoop* RunLoop::main_loop() {
  RunLoop* m = main_loop_ptr.load();
  if (m) return m;
  current();
  m = main_loop_ptr.load();
  if (!m) fatal("utils/loop", 698, "main_loop");
  return m;
}

uint32_t RunLoop::post_current(const Callback& cb, uint64_t delay_us) {
  return current()->post(cb, delay_us);
}

KeepLoop* RunLoop::keep_alive_current(const String& name, bool clean) {
  return current()->keep_alive(name, clean);
}

void RunLoop::stop(std::thread::id id) {
  Runtime* r = runtime();
  std::lock_guard<std::mutex> g(r->mutex);
  Thread** t = r->threads.get(id);
  if (t && (*t)->loop_) (*t)->loop_->stop();
}

bool RunLoop::is_alive(std::thread::id id) {
  Runtime* r = runtime();
  std::lock_guard<std::mutex> g(r->mutex);
  Thread** t = r->threads.get(id);
  return t && (*t)->loop_ && (*t)->loop_->is_alive();
}

// Under the mutex: whether a queued message has that id.
bool RunLoop::Inl::id_in_use(uint32_t id) const {
  bool found = false;
  auto match = [&](const Message& m) { return found = m.id == id; };
  each_queued(incoming, 0, 0, match);
  if (!found) each_queued(delayed, 0, 0, match);
  if (!found) each_queued(batch, batch_started(), batch_now, match);
  return found;
}

// Under the mutex: the counter value of the oldest queued message (the front of one of
// the lists), or `v` when that is older.
uint64_t RunLoop::Inl::oldest_seq(uint64_t v) const {
  uint64_t oldest = v;
  for (const Messages* list : {&incoming, &delayed, &batch}) {
    uint64_t front = list->front_seq(v);
    if (front < oldest) oldest = front;
  }
  return oldest;
}

// Under the mutex: the next id of iid32's counter, from `v` on, that no queued message
// has. Ids come back only after the counter wrapped, so the queue is searched only while
// a message taken one wrap ago or earlier is still queued.
uint32_t RunLoop::Inl::message_id_after_wrap(uint64_t v, uint64_t* seq) {
  uint64_t oldest = oldest_seq(v);
  for (;; v = iid()) {
    uint32_t id = (uint32_t)(v % kIdWrap);
    if (id == 0) continue;  // 0 means "refused" and "all"
    if (v - oldest >= kIdWrap && id_in_use(id)) continue;
    *seq = v;
    return id;
  }
}

// The monotonic time `delay_us` from now. An end past the clock's range is never due
// (it must not wrap to the past).
uint64_t RunLoop::Inl::due_time(uint64_t delay_us) {
  uint64_t now = (uint64_t)time_monotonic();
  return delay_us >= (uint64_t)INT64_MAX - now ? (uint64_t)INT64_MAX : now + delay_us;
}

// Under the mutex, with the last block of `incoming` full and no spare: makes a block
// with the mutex released. False when the post must be refused after all.
bool RunLoop::Inl::add_spare_block() {
  host->mutex_.unlock();
  Block* b = new_block();
  host->mutex_.lock();
  pool.put(b, false);
  return !destroying && !host->thread_->is_abort();
}

uint32_t RunLoop::Inl::post(Callback* cb, const InlineCallback& func, uint64_t delay_us,
                            uint32_t group) {
  uint64_t time = delay_us ? due_time(delay_us) : 0;
  LoopMutex& mutex = host->mutex_;
  mutex.lock();
  // The abort is looked at under the lock: an aborted run drops its queue under this
  // lock after the flag is set, so a message queued after that drop would wait forever
  // (a post_sync caller with it).
  if (destroying || host->thread_->is_abort() ||
      (incoming.full() && pool.empty() && !add_spare_block())) {
    mutex.unlock();
    return 0;  // the caller releases `cb`
  }
  uint64_t seq;
  uint32_t id = message_id(&seq);
  enqueue(id, group, time, seq, cb ? cb->detach() : nullptr, func);
  bool must_wake = claim_wake();
  mutex.unlock();
  if (must_wake) wake();
  return id;
}

uint32_t RunLoop::post(const Callback& cb, uint64_t delay_us) {
  Callback held(cb);  // released after the lock when refused
  return inl_->post(&held, InlineCallback(), delay_us, 0);
}

uint32_t RunLoop::post_inline(InlineCallback&& func, uint64_t delay_us) {
  return inl_->post(nullptr, func, delay_us, 0);
}

void RunLoop::post_sync(const Callback& cb) {
  if (std::this_thread::get_id() == thread_id_) {
    sync_callback(cb, nullptr, this);
    return;
  }
  if (thread_->is_abort()) return;
  // A framework thread that is aborted while it waits stops waiting, unless its
  // callback is already firing: the owner may be waiting for this thread's end (a worker
  // group destroyed on its loop). Abort does not signal this wait, so it is looked at
  // every few milliseconds. An aborted caller queues nothing.
  Thread* caller = Thread::current();
  if (caller && caller->is_abort()) return;
  SyncState* state = new SyncState();
  state->retain();
  // A refused message is released at once and finishes the state.
  {
    Callback message(new SyncMessage(cb, state));
    inl_->post(&message, InlineCallback(), 0, 0);
  }
  {
    std::unique_lock<std::mutex> l(state->mutex);
    if (!caller) {
      state->cond.wait(l, [state] { return state->finished; });
    } else {
      while (!state->finished) {
        if (caller->is_abort() && !state->started) {
          state->abandoned = true;
          break;
        }
        state->cond.wait_for(l, std::chrono::milliseconds(5));
      }
    }
  }
  state->release();
}

void RunLoop::cancel(uint32_t id) {
  if (id == 0) return;
  Removed removed;  // released after the lock
  std::lock_guard<LoopMutex> l(mutex_);
  inl_->take_id(id, removed);
}

// Under the mutex: moves the queued message with that id into `out` (ids of queued
// messages are unique). An entry of the batch being fired loses its id and stays in
// place (the dispatcher skips it and releases its core).
void RunLoop::Inl::take_id(uint32_t id, Removed& out) {
  bool found = false;
  // Oldest first: the batch, then what waits for its time, then the newest.
  each_queued(batch, batch_started(), batch_now, [&](Message& m) {
    if (m.id != id) return false;
    m.remove();
    return found = true;
  });
  for (Messages* list : {&delayed, &incoming}) {
    if (found) break;
    each_queued(*list, 0, 0, [&](Message& m) {
      if (m.id != id) return false;
      list->take(m, out);
      return found = true;
    });
  }
  if (found) send();
}

// Under the mutex: moves every queued message of the group into `out`.
void RunLoop::Inl::take_group(uint32_t group, Removed& out) {
  size_t n = 0;
  each_queued(batch, batch_started(), batch_now, [&](Message& m) {
    if (m.group == group) {
      m.remove();
      n++;
    }
    return false;
  });
  for (Messages* list : {&delayed, &incoming}) {
    each_queued(*list, 0, 0, [&](Message& m) {
      if (m.group == group) {
        list->take(m, out);
        n++;
      }
      return false;
    });
  }
  if (n) send();
}

uint32_t RunLoop::work(const Callback& work, const Callback& done, const String& name) {
  if (thread_->is_abort()) return 0;
  Work* w = new Work{this, iid32(), work, done, uv_work_t(), List<Work*>::Iterator(), name, false};
  uint32_t id = w->id;
  Callback submit(new SubmitWork(w));
  if (!inl_->post(&submit, InlineCallback(), 0, 0)) return 0;
  return id;
}

void RunLoop::Inl::submit(Work* w) {
  RunLoop* host = w->host;
  {
    std::lock_guard<LoopMutex> l(host->mutex_);
    w->node = host->works_.push(w);
    host->inl_->work_count++;
  }
  w->req.data = w;
  uv_queue_work(host->uv_loop_, &w->req, on_work, on_work_done);
}

void RunLoop::Inl::on_work(uv_work_t* req) {
  // Queued work does not start once the process is exiting: it could hold the exit.
  if (Thread::is_process_exit()) return;
  Work* w = (Work*)req->data;
  in_pool_job = true;
  fire(w->work, w->host);
  in_pool_job = false;
}

void RunLoop::Inl::on_work_done(uv_work_t* req, int status) {
  Work* w = (Work*)req->data;
  RunLoop* host = w->host;
  if (w->orphan) {
    host->inl_->orphans--;
    delete w;
    return;
  }
  std::mutex* outside;
  {
    std::lock_guard<LoopMutex> l(host->mutex_);
    outside = host->inl_->outside;
  }
  {
    OutsideLock o(outside);
    {
      std::lock_guard<LoopMutex> l(host->mutex_);
      host->works_.erase(w->node);
      host->inl_->work_count--;
    }
    if (status != UV_ECANCELED) fire(w->done, host);
  }
  bool must_wake;
  {
    std::lock_guard<LoopMutex> l(host->mutex_);
    must_wake = host->inl_->claim_wake();
  }
  if (must_wake) host->inl_->wake();
  delete w;  // no lock held: releases the callbacks
}

void RunLoop::cancel_work(uint32_t id) {
  if (thread_->is_abort() || id == 0) return;
  post(Callback([this, id](SimpleEvent&) {
    Work* found = nullptr;
    {
      std::lock_guard<LoopMutex> l(mutex_);
      for (auto it = works_.begin(); it != works_.end(); ++it) {
        if ((*it)->id == id) found = *it;
      }
    }
    // Works leave the list only on this thread, so `found` stays valid.
    if (found) uv_cancel((uv_req_t*)&found->req);
  }));
}

// Under the mutex: a message that ends this run (not a later one) once it fires.
void RunLoop::Inl::queue_stop() {
  if (!running) return;
  uint64_t gen = generation;
  Inl* self = this;
  Callback stop([self, gen](SimpleEvent&) {
    std::lock_guard<LoopMutex> l(self->host->mutex_);
    if (self->generation != gen || !self->running) return;
    self->stopping = true;
    uv_stop(self->host->uv_loop_);
  });
  uint64_t seq;
  uint32_t id = message_id(&seq);
  enqueue(id, 0, 0, seq, stop.detach(), InlineCallback());
  send();
}

void RunLoop::Inl::stop_for_abort(RunLoop* loop) {
  std::lock_guard<LoopMutex> l(loop->mutex_);
  loop->inl_->queue_stop();
}

void RunLoop::stop() {
  if (thread_->is_abort()) return;
  std::lock_guard<LoopMutex> l(mutex_);
  inl_->queue_stop();
}

void RunLoop::set_outside_mutex(std::mutex* mutex) {
  std::lock_guard<LoopMutex> l(mutex_);
  inl_->outside = mutex;
}

bool RunLoop::is_running() const {
  std::lock_guard<LoopMutex> l(mutex_);
  return inl_->running;
}

bool RunLoop::is_alive() const {
  {
    std::lock_guard<LoopMutex> l(mutex_);
    if (inl_->running || inl_->has_messages() || inl_->keep_count || inl_->work_count) return true;
  }
  // libuv's own state may be read on the owner thread only.
  return std::this_thread::get_id() == thread_id_ && uv_loop_alive(uv_loop_);
}

KeepLoop* RunLoop::keep_alive(const String& name, bool clean) {
  std::lock_guard<LoopMutex> l(mutex_);
  if (inl_->destroying) return new KeepLoop(nullptr, iid32(), name, clean);
  // After the ids wrapped, a group still held by a keep is not given out again.
  uint32_t group = iid32();
  for (auto it = keeps_.begin(); it != keeps_.end();) {
    if ((*it)->group_ == group) {
      group = iid32();
      it = keeps_.begin();
    } else {
      ++it;
    }
  }
  KeepLoop* keep = new KeepLoop(this, group, name, clean);
  keep->node_ = keeps_.push(keep);
  inl_->keep_count++;
  return keep;
}

// Under the mutex, on the owner thread.
void RunLoop::Inl::close_handles() {
  accepting = false;
  // A post that claimed a send before this point may still be sending: libuv must not
  // see the handle closed (or, on the next run, initialised again) under it. A send is
  // one system call, done without any lock.
  while (senders.load(std::memory_order_acquire) != 0) std::this_thread::yield();
  if (!uv_is_closing((uv_handle_t*)&async_h)) uv_close((uv_handle_t*)&async_h, on_close);
  uv_timer_stop(&timer_h);
  if (!uv_is_closing((uv_handle_t*)&timer_h)) uv_close((uv_handle_t*)&timer_h, on_close);
}

void RunLoop::run(int64_t keep_alive_us) {
  if (Thread::is_process_exit() || thread_->is_abort()) {
    if (thread_->is_abort()) inl_->drop_queue();
    return;
  }
  if (keep_alive_us < 0) keep_alive_us = 0;
  {
    std::lock_guard<LoopMutex> l(mutex_);
    if (std::this_thread::get_id() != thread_id_)
      fatal("utils/loop", 366, "run", "Must run on the target thread");
    if (inl_->running) fatal("utils/loop", 367, "run");
    inl_->keep_alive = keep_alive_us;
    inl_->idle_since = 0;
    inl_->running = true;
    inl_->stopping = false;
    inl_->generation++;
    inl_->closed = 0;
    uv_async_init(uv_loop_, &inl_->async_h, Inl::on_async);
    uv_timer_init(uv_loop_, &inl_->timer_h);
    inl_->async_h.data = inl_;
    inl_->timer_h.data = inl_;
    inl_->accepting = true;
    inl_->wake_pending = false;
    inl_->send();  // the dispatcher runs first
    // An abort that came after the test above saw no running loop to stop.
    if (thread_->is_abort()) inl_->queue_stop();
  }
  uv_run(uv_loop_, UV_RUN_DEFAULT);
  {
    std::lock_guard<LoopMutex> l(mutex_);
    inl_->close_handles();
  }
  // The handles are freed by their close callbacks; wait for both.
  while (inl_->closed < 2) uv_run(uv_loop_, UV_RUN_NOWAIT);
  {
    std::lock_guard<LoopMutex> l(mutex_);
    inl_->running = false;
    inl_->stopping = false;
    inl_->keep_alive = 0;
    inl_->idle_since = 0;
  }
  // An aborted owner never runs its loop again: what is queued can only be released.
  if (thread_->is_abort()) inl_->drop_queue();
}

void RunLoop::Inl::drop_queue() {
  Messages dropped, late;  // released after the lock
  std::lock_guard<LoopMutex> l(host->mutex_);
  dropped.swap(incoming);
  late.swap(delayed);
}

// Without the lock: fires the due messages of the batch, in order, and releases them.
// Counts in `fired` and `not_due`. Leaves the entries as they were (see Message).
void RunLoop::Inl::fire_batch(int64_t now, std::mutex* outside_mutex, size_t& fired,
                              size_t& not_due) {
  size_t k = 0;
  for (Block* b = batch.head; b; b = b->next) {
    Message* const last = b->m + batch.used(b);
    for (Message* m = b->m; m != last; m++) {
      // From here on a removal finds this entry gone, unless it is not due yet.
      __atomic_store_n(&started, ++k, __ATOMIC_RELAXED);
      if (!m->is_due(now)) {
        not_due++;
        continue;
      }
      if (m->live_id() == 0) {
        if (m->core) m->core->release();  // removed meanwhile
        continue;
      }
      {
        OutsideLock o(outside_mutex);
        call_logging_exceptions([&] {
          SimpleEvent evt = {nullptr, host, 0};
          if (m->core)
            m->core->call(evt);
          else
            m->func.call(evt);
        });
      }
      if (m->core) m->core->release();  // with no lock held
      fired++;
    }
  }
}

void RunLoop::Inl::dispatch() {
  RunLoop* loop = host;
  uv_timer_stop(&timer_h);
  size_t fired = 0;
  // Entries removed while a batch fired and blocks beyond the pool's spares: gathered
  // under the lock, released while the next batch fires or after the last lock.
  Removed removed;
  Block* excess = nullptr;
  int64_t now = time_monotonic();
  std::unique_lock<LoopMutex> l(loop->mutex_);
  if (!accepting) return;  // closing: run is about to return
  // One lock per round: the lock that ends a batch also takes the next one.
  for (int round = 1;; round++) {
    // The batch: every message queued before this point, in posting order. Messages
    // posted from now on go to `incoming` and wait for a later round.
    if (delayed.empty()) {
      delayed.clear();  // blocks left holding removed entries only
      batch.swap(incoming);
    } else {
      // Both lists are in posting order: merged by it. Removed entries stay behind.
      Cursor a(delayed), b(incoming);
      while (a.m || b.m) {
        bool from_delayed = !b.m || (a.m && a.m->seq < b.m->seq);
        Cursor& c = from_delayed ? a : b;
        batch.push(*c.m);
        c.next();
      }
      incoming.clear(false);
      delayed.clear(false);
    }
    // Posts need not wake the loop while it fires: it looks at the queue again after.
    wake_pending = true;
    firing = true;
    batch_now = now;
    __atomic_store_n(&started, 0, __ATOMIC_RELAXED);
    std::mutex* outside_mutex = outside;
    l.unlock();
    removed.release();
    free_blocks(excess);
    excess = nullptr;
    size_t not_due = 0;
    fire_batch(now, outside_mutex, fired, not_due);
    int64_t fired_at = now;
    now = time_monotonic();
    l.lock();
    firing = false;
    // What is not due yet keeps its place ahead of everything posted meanwhile; entries
    // removed after the walk passed them are released after the lock.
    if (not_due) {
      batch.each([&](Message& m) {
        if (m.is_due(fired_at)) return;  // fired or released by the walk
        if (m.live_id() != 0)
          delayed.push(m);
        else
          removed.push(m.core);
      });
    }
    batch.clear(false);  // every core has been released or moved
    excess = pool.take_excess();

    if (stopping) {
      close_handles();
      l.unlock();
      break;
    }
    // What was posted meanwhile fires in a new round of this dispatch; after a few
    // rounds the loop lets libuv's other events have their turn.
    if (!incoming.empty() && round < kDispatchRounds) continue;
    wake_pending = false;
    bool must_wake = decide(fired != 0, now);
    l.unlock();
    if (must_wake) wake();
    break;
  }
  removed.release();
  free_blocks(excess);
}

// Under the mutex, after a dispatch: arms what brings the next one, or ends the run.
// True when the async handle is to be sent once the mutex is released.
bool RunLoop::Inl::decide(bool fired, int64_t now) {
  RunLoop* loop = host;
  // The keep-alive time counts from the last activity.
  if (fired) idle_since = 0;
  if (!incoming.empty() || !delayed.empty()) {
    // Signed distances: a message that fell due meanwhile is due, not 2^64 us ahead.
    int64_t nearest = incoming.empty() ? INT64_MAX : 0;
    delayed.each([&](const Message& m) {
      if (nearest == 0 || m.live_id() == 0) return;
      int64_t d = m.time == 0 ? 0 : (int64_t)m.time - now;
      if (d < nearest) nearest = d < 1 ? 0 : d;
    });
    idle_since = 0;
    uint64_t ms = (uint64_t)(nearest / 1000 + (nearest % 1000 != 0));
    if (nearest == 0 || ms < 1) return claim_wake();
    uv_timer_start(&timer_h, on_timer, ms, 0);
  } else if (keep_count || work_count) {
    idle_since = 0;  // sleeps until the next post, completion or keep release
  } else if (loop->uv_loop_->active_handles >= 2 || loop->uv_loop_->active_reqs.count > 0) {
    uv_timer_start(&timer_h, on_timer, 1000, 0);
    idle_since = 0;
  } else if (idle_since) {
    int64_t rest = now - idle_since - keep_alive;
    if (rest < 0)
      uv_timer_start(&timer_h, on_timer, (uint64_t)((-rest + 999) / 1000), 0);
    else
      close_handles();
  } else if (keep_alive / 1000 < 1) {
    close_handles();
  } else {
    idle_since = now;
    uv_timer_start(&timer_h, on_timer, (uint64_t)(keep_alive / 1000), 0);
  }
  return false;
}

namespace {

void close_any(uv_handle_t* h, void*) {
  if (!uv_is_closing(h)) uv_close(h, nullptr);
}

}  // namespace

RunLoop::~RunLoop() {
  Runtime* r = runtime();
  Messages pending, late;
  List<Work*> orphaned;
  List<String> keep_names;
  {
    std::lock_guard<std::mutex> g(r->mutex);
    std::lock_guard<LoopMutex> l(mutex_);
    if (inl_->running)
      fatal("utils/loop", 651, "~RunLoop",
            "Secure deletion must ensure that the run loop has exited");
    inl_->destroying = true;
    for (auto it = keeps_.begin(); it != keeps_.end(); ++it) {
      keep_names.push((*it)->name_);
      (*it)->loop_ = nullptr;
    }
    keeps_.clear();
    inl_->keep_count = 0;
    for (auto it = works_.begin(); it != works_.end(); ++it) {
      (*it)->orphan = true;
      orphaned.push(*it);
    }
    works_.clear();
    inl_->work_count = 0;
    pending.swap(inl_->incoming);
    late.swap(inl_->delayed);
  }
  for (auto it = keep_names.begin(); it != keep_names.end(); ++it)
    log("RunLoop keep not release \"%s\"", it->c_str());
  // Messages are released with no lock held; what they post now is refused.
  pending.clear();
  late.clear();
  // libuv still holds the works in flight: cancel what has not started and let every
  // completion come back (it frees its record without calling done) before the libuv
  // loop goes.
  for (auto it = orphaned.begin(); it != orphaned.end(); ++it) {
    log("RunLoop work not complete: \"%s\"", (*it)->name.c_str());
    uv_cancel((uv_req_t*)&(*it)->req);
    inl_->orphans++;
  }
  // While the process exits, a work in flight may be the exit itself (a pool job that
  // called Thread::Inl::exit waits for this thread's end): it is not waited for, and
  // the libuv loop it will report to is left to the ending process.
  bool abandon = inl_->orphans > 0 && Thread::is_process_exit();
  while (!abandon && inl_->orphans > 0) uv_run(uv_loop_, UV_RUN_ONCE);
  if (!abandon && uv_loop_ != uv_default_loop()) {
    if (uv_loop_close(uv_loop_) == UV_EBUSY) {
      uv_walk(uv_loop_, close_any, nullptr);
      uv_run(uv_loop_, UV_RUN_DEFAULT);
      uv_loop_close(uv_loop_);
    }
    free(uv_loop_);
  }
  {
    std::lock_guard<std::mutex> g(r->mutex);
    Thread::Inl::del_run_loop(thread_, this);
    if (main_loop_ptr.load() == this) {
      main_loop_ptr.store(nullptr);
      main_thread_id.store(std::thread::id());
    }
  }
  delete inl_;
}

void report_error(PostMessage* loop, const Error& error, const Callback& cb) {
  if (!loop) {
    sync_callback(cb, const_cast<Error*>(&error), nullptr);
    return;
  }
  // As async_callback, keeping the wrap: a target that refuses the message (its loop is
  // gone, its owner aborted) gets the error at once instead of losing it.
  Callback wrap(new WrapCallback(cb, new Error(error), nullptr));
  if (loop->post(wrap, 0) == 0) sync_callback(wrap);
}

// ---------------------------------------------------------------------------------------
// Keeps

KeepLoop::KeepLoop(RunLoop* loop, uint32_t group, const String& name, bool clean)
    : loop_(loop), group_(group), name_(name), clean_(clean) {}

uint32_t KeepLoop::post(const Callback& cb, uint64_t delay_us) {
  Callback held(cb);  // released after the locks when refused
  // The global mutex keeps the loop from being destroyed meanwhile.
  std::lock_guard<std::mutex> g(runtime()->mutex);
  if (!loop_) return 0;
  return loop_->inl_->post(&held, InlineCallback(), delay_us, group_);
}

void KeepLoop::cancel(uint32_t id) {
  Removed removed;  // released after the locks
  std::lock_guard<std::mutex> g(runtime()->mutex);
  if (!loop_) return;
  std::lock_guard<LoopMutex> l(loop_->mutex_);
  if (id != 0)
    loop_->inl_->take_id(id, removed);
  else
    loop_->inl_->take_group(group_, removed);
}

bool KeepLoop::is_attached() const {
  std::lock_guard<std::mutex> g(runtime()->mutex);
  return loop_ != nullptr;
}

KeepLoop::~KeepLoop() {
  Removed removed;  // released after the locks
  std::lock_guard<std::mutex> g(runtime()->mutex);
  if (!loop_) return;
  std::lock_guard<LoopMutex> l(loop_->mutex_);
  RunLoop::Inl* inl = loop_->inl_;
  if (clean_) inl->take_group(group_, removed);
  if (inl->keep_count == 0) fatal("utils/loop", 919, "~KeepLoop");
  loop_->keeps_.erase(node_);
  inl->keep_count--;
  if (inl->keep_count == 0 && !inl->stopping) inl->send();
}

void Thread::Inl::abort_record(Thread* t) {
  {
    std::lock_guard<std::mutex> l(t->mutex_);
    // The flag first: a run that starts after this sees it under its loop's mutex.
    t->abort_.store(true);
    t->cond_.notify_one();
  }
  if (t->loop_) RunLoop::Inl::stop_for_abort(t->loop_);
}

// ---------------------------------------------------------------------------------------
// Posting through a thread

uint32_t post_to_loop(std::thread::id owner, RunLoop* loop, const Callback& cb) {
  Callback held(cb);  // a refused message is released after the lock
  Runtime* r = runtime();
  std::lock_guard<std::mutex> g(r->mutex);
  // A loop is unlinked from its thread under this mutex before it is freed.
  Thread** t = r->threads.get(owner);
  if (!t || !loop || (*t)->loop_ != loop) return 0;
  return loop->post(held);
}

// ---------------------------------------------------------------------------------------
// Parallel workers
//
// The child map lives in a state shared by the group and its children, so a child may
// end after the group is gone, and the group may be destroyed from one of its children.
// Each child is represented by a token that holds the user's function object. The token
// lives in the child's thread function and ends with it: after the body has run, or
// unrun when the child was aborted before it started. Its end removes the child from the
// map, so a child leaves the group exactly once, whichever way it ends. A child is
// entered under its thread id with a serial of its own, so a wait for one child is never
// confused with a later child that got the same system id.
//
// The group mutex comes before the global thread mutex: children are spawned, woken and
// aborted under it, while each id in the map is certain to be the child's (a child
// leaves the map before its thread ends and its id can be reused). A token ends with no
// lock held: the spawner keeps its own reference until it has dropped the group mutex.

class ParallelWorking::Inl : public Reference {
 public:
  mutable std::mutex mutex;
  std::condition_variable ended;            // a child left the map
  Map<std::thread::id, uint64_t> children;  // (mutex) id -> serial
  uint64_t serial = 0;                      // (mutex)
  bool destroying = false;                  // (mutex) spawns are refused

  // Under the mutex (`l`): until that child has left the map.
  void wait_child(std::unique_lock<std::mutex>& l, std::thread::id id, uint64_t s) {
    ended.wait(l, [&] {
      uint64_t* found = children.get(id);
      return !found || *found != s;
    });
  }
};

namespace {

class ChildToken : public Reference {
 public:
  ChildToken(ParallelWorking::Inl* group, Thread::Exec exec, uint64_t serial)
      : group_(group), exec_(std::move(exec)), serial_(serial) {
    group_->retain();
  }
  ~ChildToken() override {
    exec_ = nullptr;  // what the function object holds goes before the child leaves
    {
      std::lock_guard<std::mutex> l(group_->mutex);
      uint64_t* found = id_ == std::thread::id() ? nullptr : group_->children.get(id_);
      if (found && *found == serial_) group_->children.remove(id_);
      group_->ended.notify_all();
    }
    group_->release();
  }
  // On the child's thread; the function object ends with the body.
  int run(Thread& t) {
    Thread::Exec body;
    body.swap(exec_);
    return body(t);
  }
  // Under the group mutex, once the child is entered.
  void set_id(std::thread::id id) { id_ = id; }

 private:
  ParallelWorking::Inl* group_;
  Thread::Exec exec_;
  uint64_t serial_;
  std::thread::id id_;  // (group mutex)
};

// A counted handle on a token, for the child's thread function.
class TokenRef {
 public:
  explicit TokenRef(ChildToken* token) : token_(token) { token_->retain(); }
  TokenRef(const TokenRef& o) : token_(o.token_) { token_->retain(); }
  TokenRef& operator=(const TokenRef&) = delete;
  ~TokenRef() { token_->release(); }
  ChildToken* operator->() const { return token_; }

 private:
  ChildToken* token_;
};

}  // namespace

ParallelWorking::ParallelWorking(RunLoop* loop) : loop_(loop), keep_(nullptr), inl_(nullptr) {
  if (!loop_ && Thread::current()) loop_ = RunLoop::current();
  if (!loop_) fatal("utils/loop", 967, "ParallelWorking", "Can not find current thread run loop.");
  keep_ = loop_->keep_alive("ParallelWorking()", true);
  inl_ = new Inl();
  inl_->retain();
}

std::thread::id ParallelWorking::spawn_child(Thread::Exec exec, const String& name) {
  // The spawner's reference, released after the group mutex (declared before the lock):
  // it may be the token's last, and the token's end takes that mutex.
  struct Held {
    ChildToken* token = nullptr;
    ~Held() { nubrix::release(token); }
  } held;
  std::lock_guard<std::mutex> l(inl_->mutex);
  if (inl_->destroying) return std::thread::id();
  held.token = new ChildToken(inl_, std::move(exec), ++inl_->serial);
  held.token->retain();
  TokenRef token(held.token);
  std::thread::id id = Thread::spawn([token](Thread& t) { return token->run(t); }, name);
  if (id != std::thread::id()) {
    held.token->set_id(id);
    inl_->children.set(id, inl_->serial);
  }
  return id;
}

void ParallelWorking::awaken_child(std::thread::id id) {
  std::lock_guard<std::mutex> l(inl_->mutex);
  if (id != std::thread::id()) {
    if (!inl_->children.has(id))
      fatal("utils/loop", 1034, "awaken_child",
            "Only subthreads belonging to \"ParallelWorking\" can be awaken");
    Thread::awaken(id);
    return;
  }
  for (auto it = inl_->children.begin(); it != inl_->children.end(); ++it) Thread::awaken(it.key());
}

void ParallelWorking::abort_child(std::thread::id id) {
  std::thread::id self = Thread::current_id();
  std::unique_lock<std::mutex> l(inl_->mutex);
  if (id != std::thread::id()) {
    uint64_t* found = inl_->children.get(id);
    if (!found)
      fatal("utils/loop", 1015, "abort_child",
            "Only subthreads belonging to \"ParallelWorking\" can be aborted");
    uint64_t serial = *found;
    Thread::abort(id);
    if (id != self) inl_->wait_child(l, id, serial);
    return;
  }
  List<std::pair<std::thread::id, uint64_t>> aborted;
  for (auto it = inl_->children.begin(); it != inl_->children.end(); ++it) {
    Thread::abort(it.key());
    if (it.key() != self) aborted.push(std::make_pair(it.key(), it.value()));
  }
  for (auto it = aborted.begin(); it != aborted.end(); ++it)
    inl_->wait_child(l, it->first, it->second);
}

uint32_t ParallelWorking::child_count() const {
  std::lock_guard<std::mutex> l(inl_->mutex);
  return inl_->children.length();
}

ParallelWorking::~ParallelWorking() {
  std::thread::id self = Thread::current_id();
  {
    std::unique_lock<std::mutex> l(inl_->mutex);
    // From here on no child is added: the children aborted below are all there are.
    inl_->destroying = true;
    for (auto it = inl_->children.begin(); it != inl_->children.end(); ++it)
      Thread::abort(it.key());
    inl_->ended.wait(l, [&] {
      uint32_t n = inl_->children.length();
      return n == 0 || (n == 1 && inl_->children.has(self));
    });
  }
  // With its clean flag set the keep takes its queued messages along; the loop may end.
  keep_->release();
  inl_->release();
}

}  // namespace nubrix
