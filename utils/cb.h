// Callbacks: every completion, notification and posted message of the framework is a
// reference-counted callback core invoked with a SimpleEvent. `Callback` is the handle
// through which code holds a core; a default Callback is the shared empty callback,
// never null.
//
// Ownership. A holder asks the core to retain itself. A Reference core is shared (each
// holder releases its reference). A core that refuses, as a plain Object does, has one
// owner only: taking it into a new Callback moves it, and the source handle becomes
// the empty callback. The same rule applies to the context of a MemberCallback and to
// the error and data of a WrapCallback: they are retained, or owned when they refuse,
// and released when the core ends.
#ifndef NUBRIX_UTILS_CB_H
#define NUBRIX_UTILS_CB_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <thread>
#include <type_traits>
#include <utility>

#include "utils/error.h"
#include "utils/object.h"

namespace nubrix {

// What the firer hands the callee. The callee reads `error` and `data` (it does not own
// them) and may set `return_value`, which the firer reads back.
struct SimpleEvent {
  Error* error;
  Object* data;
  int32_t return_value;
};

class CallbackCore : public Reference {
 public:
  CallbackCore() = default;
  CallbackCore(const CallbackCore&) = delete;
  CallbackCore& operator=(const CallbackCore&) = delete;
  virtual void call(SimpleEvent& evt) = 0;
};

// A core with a context object, retained on creation and released when the core ends.
template <typename T = Object>
class CallbackCore2 : public CallbackCore {
 public:
  explicit CallbackCore2(T* ctx = nullptr) : ctx_(ctx) { nubrix::retain(ctx_); }
  ~CallbackCore2() override { nubrix::release(ctx_); }
  [[nodiscard]] T* ctx() const { return ctx_; }

 protected:
  T* ctx_;
};

// Calls a function object. An empty one throws an Error ("bad function call") when fired.
template <typename T = Object>
class LambdaCallback : public CallbackCore2<T> {
 public:
  typedef std::function<void(SimpleEvent&)> Function;
  explicit LambdaCallback(Function func, T* ctx = nullptr)
      : CallbackCore2<T>(ctx), func_(std::move(func)) {}
  void call(SimpleEvent& evt) override {
    if (!func_) throw Error(ERR_UNKNOWN, "bad function call");
    func_(evt);
  }

 private:
  Function func_;
};

// Calls a member function of the context (virtual members dispatch as usual).
template <typename T>
class MemberCallback : public CallbackCore2<T> {
 public:
  typedef void (T::*Function)(SimpleEvent&);
  MemberCallback(T* ctx, Function func) : CallbackCore2<T>(ctx), func_(func) {}
  void call(SimpleEvent& evt) override { (this->ctx_->*func_)(evt); }

 private:
  Function func_;
};

// The empty callback: does nothing. Its one instance is shared by every default
// Callback and is never freed, so retain succeeds without counting and release does
// nothing.
class StaticCallback2 : public CallbackCore {
 public:
  bool retain() override { return true; }
  void release() override {}
  void call(SimpleEvent&) override {}
  // The shared instance, created on first use.
  static StaticCallback2* shared();
};

class Callback {
 public:
  Callback() : core_(StaticCallback2::shared()) {}
  // Takes the core (retained, or owned alone when it refuses); null is the empty callback.
  Callback(CallbackCore* core);  // NOLINT: implicit by design
  // A LambdaCallback over the function object.
  template <typename F, typename = typename std::enable_if<
                            !std::is_convertible<F, CallbackCore*>::value &&
                            !std::is_same<typename std::decay<F>::type, Callback>::value &&
                            std::is_invocable<F&, SimpleEvent&>::value>::type>
  Callback(F func)  // NOLINT: implicit by design
      : Callback(new LambdaCallback<Object>(std::function<void(SimpleEvent&)>(std::move(func)))) {}
  // A MemberCallback over the context and its member function.
  template <typename T>
  Callback(T* ctx, void (T::*func)(SimpleEvent&)) : Callback(new MemberCallback<T>(ctx, func)) {}

  // Shares the core, or moves it out of `o` when the core refuses to be shared.
  Callback(const Callback& o) : core_(take(o)) {}
  Callback(Callback&& o) noexcept : core_(o.core_) { o.core_ = StaticCallback2::shared(); }
  Callback& operator=(const Callback& o);
  Callback& operator=(Callback&& o) noexcept;
  ~Callback() { core_->release(); }

  void call(SimpleEvent& evt) const { core_->call(evt); }
  [[nodiscard]] CallbackCore* core() const { return core_; }
  [[nodiscard]] bool is_empty() const { return core_ == StaticCallback2::shared(); }
  // Hands the core over with this handle's reference (the caller gives it back with the
  // core's `release`); the handle becomes the empty callback.
  [[nodiscard]] CallbackCore* detach() {
    CallbackCore* core = core_;
    core_ = StaticCallback2::shared();
    return core;
  }

 private:
  static CallbackCore* take(const Callback& o);
  // Mutable: copying a handle over an unshareable core moves the core out of the source.
  mutable CallbackCore* core_;
};

// A small function object taking a SimpleEvent, held in place: no allocation and no
// reference count. Only function objects that are trivially copyable and destructible
// fit (`fits`): lambdas capturing pointers, references and numbers, not ones that own
// something. It copies as plain bytes, and so does a struct holding it. Run loops keep posted
// lambdas in their queue this way; a function object that does not fit goes into a LambdaCallback
// instead.
class InlineCallback {
 public:
  static constexpr size_t kSize = 3 * sizeof(void*);
  template <typename F>
  static constexpr bool fits() {
    return sizeof(F) <= kSize && alignof(F) <= alignof(void*) &&
           std::is_trivially_copyable<F>::value && std::is_trivially_destructible<F>::value;
  }

  InlineCallback() : buf_(), call_(nullptr) {}
  template <typename F, typename D = typename std::decay<F>::type,
            typename = typename std::enable_if<!std::is_same<D, InlineCallback>::value>::type>
  explicit InlineCallback(F&& func) : call_(&invoke<D>) {
    static_assert(fits<D>(), "the function object does not fit in place");
    new (buf_) D(std::forward<F>(func));
  }
  InlineCallback(const InlineCallback&) = default;
  InlineCallback& operator=(const InlineCallback&) = default;

  void reset() { call_ = nullptr; }
  [[nodiscard]] bool is_empty() const { return call_ == nullptr; }
  // Must not be empty.
  void call(SimpleEvent& evt) { call_(buf_, evt); }

 private:
  template <typename D>
  static void invoke(unsigned char* buf, SimpleEvent& evt) {
    (*std::launder(reinterpret_cast<D*>(buf)))(evt);
  }
  alignas(void*) unsigned char buf_[kSize];
  void (*call_)(unsigned char*, SimpleEvent&);
};

// Fires the callback at once on the calling thread with {error, data, 0} and returns
// the event's return_value.
int32_t sync_callback(const Callback& cb, Error* error = nullptr, Object* data = nullptr);

// A posting target: queues a callback to be fired later, after `delay_us`
// microseconds (0 = as soon as possible). Returns the message id, 0 when nothing was
// queued. Run loops and their keeps implement it.
class PostMessage {
 public:
  virtual uint32_t post(const Callback& cb, uint64_t delay_us = 0) = 0;

 protected:
  ~PostMessage() = default;
};

// Carries an error and a data object to an inner callback: firing it overwrites the
// event's error and data with the stored ones and calls the inner callback with that
// same event (so the inner return_value reaches the firer). Destroying it releases
// the error, the data and the inner callback.
class WrapCallback : public CallbackCore {
 public:
  WrapCallback(const Callback& inner, Error* error, Object* data);
  ~WrapCallback() override;
  void call(SimpleEvent& evt) override;

 private:
  Callback inner_;
  Error* error_;
  Object* data_;
};

// Posts the callback with the error and data to the target (delay 0) inside a
// WrapCallback that takes over all three: the callback by the retain-or-move rule, the
// error and data retained or owned. Without a target nothing is posted and the error
// and data are released at once.
void async_callback(const Callback& cb, Error* error, Object* data, PostMessage* target);

class RunLoop;

// One asynchronous operation bound to a run loop, abortable from any thread by its id.
//
// Every task has a non-zero id (from `iid32`) and is entered in a process-wide registry
// under it for as long as it exists; the registry holds no reference. `safe_abort(id)`
// may be called from any thread with an id that may be stale: the request travels to
// the task's loop, where the id is looked up again and the task, if it is still alive,
// is aborted on the loop's thread. A stale id, or a task whose loop has ended, finds
// nothing and nothing happens.
//
// The operation's reference. While its operation is in flight a task keeps itself alive
// with one reference of its own (whoever starts the operation retains the task for it).
// Exactly one of the operation's completion and its abort gives that reference back:
// both claim the end first (`claim_completion`, `claim_abort`), and only the winner may
// release. The default `abort` claims and releases at once; `complete` is the
// completion's counterpart. An override of `abort` that cancels its operation claims with
// `claim_abort` and then releases when it is done with the operation.
//
// The count. A task counts its holders itself so that a lookup through the registry can
// take a reference only from a task that still has one (`ref_count` is that count); the
// memory hooks see the first holder and the last release as for any Reference.
class AsyncIOTask : public Reference {
 public:
  // The loop must not be null (fatal).
  explicit AsyncIOTask(RunLoop* loop);
  AsyncIOTask(const AsyncIOTask&) = delete;
  AsyncIOTask& operator=(const AsyncIOTask&) = delete;

  // Aborts the operation. The default, when the end is not yet claimed, claims it as
  // aborted and releases the operation's reference; otherwise it does nothing.
  virtual void abort();
  // Asks the task with that id to abort on its loop's thread. Any thread; 0, stale and
  // never-issued ids do nothing.
  static void safe_abort(uint32_t id);

  [[nodiscard]] uint32_t id() const { return id_; }
  [[nodiscard]] RunLoop* loop() const { return loop_; }
  // Whether the end was claimed by an abort / by anyone.
  [[nodiscard]] bool is_abort() const { return end_.load() == kAborted; }
  [[nodiscard]] bool is_ended() const { return end_.load() != kRunning; }

 protected:
  // Leaves the registry.
  ~AsyncIOTask() override;
  // Claims the end of the operation, for an abort or for the completion; true for the
  // first claim only.
  bool claim_abort();
  bool claim_completion();
  // The completion: claims the end and, when that succeeded, releases the operation's
  // reference (the task may be gone afterwards). True when it released.
  bool complete();

 private:
  static constexpr uint8_t kRunning = 0;
  static constexpr uint8_t kCompleted = 1;
  static constexpr uint8_t kAborted = 2;
  class Inl;
  friend class Inl;

  std::atomic<uint8_t> end_;
  uint32_t id_;
  RunLoop* loop_;
  std::thread::id owner_;  // the loop's thread: the loop is reached through it
};

}  // namespace nubrix

#endif
