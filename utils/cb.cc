#include "utils/cb.h"

#include <atomic>
#include <mutex>

#include "utils/console.h"
#include "utils/loop.h"
#include "utils/map.h"
#include "utils/util.h"

namespace nubrix {

namespace {

std::atomic<StaticCallback2*> shared_empty{nullptr};
std::mutex shared_empty_mutex;

}  // namespace

StaticCallback2* StaticCallback2::shared() {
  StaticCallback2* cb = shared_empty.load(std::memory_order_acquire);
  if (cb) return cb;
  std::lock_guard<std::mutex> lock(shared_empty_mutex);
  cb = shared_empty.load(std::memory_order_relaxed);
  if (!cb) {
    cb = new StaticCallback2();
    shared_empty.store(cb, std::memory_order_release);
  }
  return cb;
}

Callback::Callback(CallbackCore* core) : core_(core ? core : StaticCallback2::shared()) {
  core_->retain();  // a refusing core is now owned by this handle alone
}

CallbackCore* Callback::take(const Callback& o) {
  CallbackCore* core = o.core_;
  if (!core->retain()) o.core_ = StaticCallback2::shared();
  return core;
}

Callback& Callback::operator=(const Callback& o) {
  if (this != &o && core_ != o.core_) {
    CallbackCore* old = core_;
    core_ = take(o);
    old->release();
  }
  return *this;
}

Callback& Callback::operator=(Callback&& o) noexcept {
  if (this != &o) {
    CallbackCore* old = core_;
    core_ = o.core_;
    o.core_ = StaticCallback2::shared();
    old->release();
  }
  return *this;
}

int32_t sync_callback(const Callback& cb, Error* error, Object* data) {
  SimpleEvent evt = {error, data, 0};
  cb.call(evt);
  return evt.return_value;
}

WrapCallback::WrapCallback(const Callback& inner, Error* error, Object* data)
    : inner_(inner), error_(error), data_(data) {
  nubrix::retain(error_);
  nubrix::retain(data_);
}

WrapCallback::~WrapCallback() {
  nubrix::release(error_);
  nubrix::release(data_);
}

void WrapCallback::call(SimpleEvent& evt) {
  evt.error = error_;
  evt.data = data_;
  inner_.call(evt);
}

void async_callback(const Callback& cb, Error* error, Object* data, PostMessage* target) {
  Callback message(new WrapCallback(cb, error, data));
  if (target) target->post(message, 0);
}

// ---------------------------------------------------------------------------------------
// Abortable tasks

namespace {

// The task registry: finds live tasks by id; holds no reference. Created once before
// main and never destroyed, so tasks ending during process exit still find it.
struct TaskRegistry {
  std::mutex mutex;
  Map<uint32_t, AsyncIOTask*> tasks;
};

std::atomic<TaskRegistry*> task_registry{nullptr};

TaskRegistry* registry() {
  TaskRegistry* r = task_registry.load(std::memory_order_acquire);
  if (r) return r;
  runtime_initialize();
  return task_registry.load(std::memory_order_acquire);
}

}  // namespace

void task_registry_initialize() {
  if (!task_registry.load()) task_registry.store(new TaskRegistry());
}

class AsyncIOTask::Inl {
 public:
  // On the loop's thread: the task with that id, if it is still alive (a task whose
  // count reached 0 is being destroyed and merely waits for the registry mutex to leave
  // the map) and belongs to the loop the message fired on, is aborted here. The
  // reference taken under the registry mutex is released after it, with no lock held
  // (it may be the last one).
  static void abort_on_loop(uint32_t id, Object* loop) {
    TaskRegistry* r = registry();
    AsyncIOTask* task = nullptr;
    {
      std::lock_guard<std::mutex> l(r->mutex);
      AsyncIOTask** found = r->tasks.get(id);
      if (found && static_cast<Object*>((*found)->loop_) == loop && (*found)->retain_if_live())
        task = *found;
    }
    if (!task) return;
    struct Held {
      AsyncIOTask* task;
      ~Held() { task->release(); }
    } held{task};
    task->abort();
  }
};

AsyncIOTask::AsyncIOTask(RunLoop* loop) : end_(kRunning), id_(0), loop_(loop), owner_() {
  if (!loop) fatal("utils/cb", 114, "AsyncIOTask");
  id_ = iid32();
  owner_ = loop->thread_id();
  TaskRegistry* r = registry();
  std::lock_guard<std::mutex> l(r->mutex);
  r->tasks.set(id_, this);
}

AsyncIOTask::~AsyncIOTask() {
  TaskRegistry* r = registry();
  std::lock_guard<std::mutex> l(r->mutex);
  // After the ids wrapped, the entry may be a newer task's.
  AsyncIOTask** found = r->tasks.get(id_);
  if (found && *found == this) r->tasks.remove(id_);
}

bool AsyncIOTask::claim_abort() {
  uint8_t running = kRunning;
  return end_.compare_exchange_strong(running, kAborted);
}

bool AsyncIOTask::claim_completion() {
  uint8_t running = kRunning;
  return end_.compare_exchange_strong(running, kCompleted);
}

bool AsyncIOTask::complete() {
  if (!claim_completion()) return false;
  release();
  return true;
}

void AsyncIOTask::abort() {
  if (claim_abort()) release();
}

void AsyncIOTask::safe_abort(uint32_t id) {
  if (id == 0) return;
  TaskRegistry* r = registry();
  RunLoop* loop;
  std::thread::id owner;
  {
    std::lock_guard<std::mutex> l(r->mutex);
    AsyncIOTask** found = r->tasks.get(id);
    if (!found) return;
    loop = (*found)->loop_;
    owner = (*found)->owner_;
  }
  // Posted with no registry lock held: the message looks the id up again, so a task
  // that ends meanwhile is not touched. The loop is reached through its thread, so a
  // loop that has ended is never used.
  post_to_loop(owner, loop, Callback([id](SimpleEvent& evt) { Inl::abort_on_loop(id, evt.data); }));
}

}  // namespace nubrix
