#include "utils/cb.h"

#include <atomic>
#include <mutex>

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

}  // namespace nubrix
