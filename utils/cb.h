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

#include <cstdint>
#include <functional>
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

 private:
  static CallbackCore* take(const Callback& o);
  // Mutable: copying a handle over an unshareable core moves the core out of the source.
  mutable CallbackCore* core_;
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

}  // namespace nubrix

#endif
