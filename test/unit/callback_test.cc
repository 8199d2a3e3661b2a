#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "utils/cb.h"

using nubrix::Callback;
using nubrix::CallbackCore;
using nubrix::Error;
using nubrix::LambdaCallback;
using nubrix::MemberCallback;
using nubrix::Object;
using nubrix::PostMessage;
using nubrix::Reference;
using nubrix::SimpleEvent;
using nubrix::StaticCallback2;
using nubrix::sync_callback;

namespace {

int live_contexts = 0;

class Context : public Reference {
 public:
  Context() { live_contexts++; }
  ~Context() override { live_contexts--; }
  virtual void on_event(SimpleEvent& evt) { evt.return_value = 1; }
  void count(SimpleEvent& evt) { evt.return_value = ++calls + 10; }
  int calls = 0;
};

class DerivedContext : public Context {
 public:
  void on_event(SimpleEvent& evt) override {
    calls++;
    evt.return_value = 2;
  }
};

// A core that refuses to be shared, as a plain Object does: its one holder owns it.
int plain_cores = 0;
class PlainCore : public CallbackCore {
 public:
  PlainCore() { plain_cores++; }
  ~PlainCore() override { plain_cores--; }
  bool retain() override { return false; }
  void release() override { nubrix::destroy_object(this); }
  void call(SimpleEvent& evt) override { evt.return_value = 7; }
};

// Plain objects whose end is counted (errors and data handed to a WrapCallback).
int ended_errors = 0;
class CountedError : public Error {
 public:
  CountedError() : Error(-5, "counted") {}
  ~CountedError() override { ended_errors++; }
};
int ended_data = 0;
class CountedData : public Object {
 public:
  ~CountedData() override { ended_data++; }
};

// Keeps what is posted, to be fired or dropped later.
class RecordingTarget : public PostMessage {
 public:
  uint32_t post(const Callback& cb, uint64_t delay_us) override {
    queue.push_back(cb);
    delays.push_back(delay_us);
    return (uint32_t)queue.size();
  }
  std::vector<Callback> queue;
  std::vector<uint64_t> delays;
};

TEST(Callback, EmptyCallbackDoesNothingAndIsShared) {
  Callback a, b;
  EXPECT_TRUE(a.is_empty());
  EXPECT_EQ(a.core(), b.core());
  EXPECT_EQ(a.core(), StaticCallback2::shared());
  EXPECT_EQ(sync_callback(a), 0);
  Callback null_core((CallbackCore*)nullptr);
  EXPECT_TRUE(null_core.is_empty());
  // Retaining and releasing the shared core never frees it.
  for (int i = 0; i < 3; i++) {
    Callback copy(a);
    EXPECT_EQ(sync_callback(copy), 0);
  }
  EXPECT_EQ(sync_callback(Callback()), 0);
}

TEST(Callback, SyncCallbackPassesEventAndReturnsValue) {
  Error err(-2, "e");
  Object data;
  struct Case {
    int32_t set;  // what the callee stores; INT32_MIN stores nothing
    int32_t expected;
  } cases[] = {{INT32_MIN, 0}, {0, 0}, {1, 1}, {-3, -3}, {INT32_MAX, INT32_MAX}};
  for (const Case& c : cases) {
    Error* seen_error = nullptr;
    Object* seen_data = nullptr;
    int32_t start = -1;
    Callback cb([&](SimpleEvent& evt) {
      seen_error = evt.error;
      seen_data = evt.data;
      start = evt.return_value;
      if (c.set != INT32_MIN) evt.return_value = c.set;
    });
    EXPECT_EQ(sync_callback(cb, &err, &data), c.expected) << c.set;
    EXPECT_EQ(seen_error, &err);
    EXPECT_EQ(seen_data, &data);
    EXPECT_EQ(start, 0);
  }
  int32_t nulls = 0;
  Callback cb([&](SimpleEvent& evt) { nulls = (evt.error == nullptr) + (evt.data == nullptr); });
  sync_callback(cb);
  EXPECT_EQ(nulls, 2);
}

TEST(Callback, EmptyLambdaThrowsBadFunctionCall) {
  Callback cb(new LambdaCallback<>(LambdaCallback<>::Function()));
  EXPECT_FALSE(cb.is_empty());
  try {
    sync_callback(cb);
    ADD_FAILURE() << "no Error thrown";
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), nubrix::String("bad function call"));
  }
}

TEST(Callback, LambdaOverObjectHasNoContext) {
  auto* core = new LambdaCallback<>([](SimpleEvent& evt) { evt.return_value = 4; });
  EXPECT_EQ(core->ctx(), nullptr);
  Callback cb(core);
  EXPECT_EQ(sync_callback(cb), 4);
}

TEST(Callback, MemberCallbackRetainsAndReleasesContext) {
  ASSERT_EQ(live_contexts, 0);
  Context* ctx = new DerivedContext();
  ctx->retain();  // the test's own reference
  {
    Callback cb(ctx, &Context::on_event);
    EXPECT_EQ(ctx->ref_count(), 2);
    // The virtual member is looked up in the context's dispatch table.
    EXPECT_EQ(sync_callback(cb), 2);
    EXPECT_EQ(ctx->calls, 1);
    Callback copy(cb);  // shares the core, not the context
    EXPECT_EQ(ctx->ref_count(), 2);
    EXPECT_EQ(cb.core()->ref_count(), 2);
  }
  EXPECT_EQ(ctx->ref_count(), 1);
  EXPECT_EQ(live_contexts, 1);
  ctx->release();
  EXPECT_EQ(live_contexts, 0);

  // A plain (non-virtual) member is called directly.
  {
    Context* c = new Context();
    Callback cb(c, &Context::count);
    EXPECT_EQ(sync_callback(cb), 11);
    EXPECT_EQ(sync_callback(cb), 12);
  }
  EXPECT_EQ(live_contexts, 0);

  // A context held only by the callback ends with the callback.
  {
    Callback cb(new MemberCallback<Context>(new Context(), &Context::on_event));
    EXPECT_EQ(live_contexts, 1);
    EXPECT_EQ(sync_callback(cb), 1);
  }
  EXPECT_EQ(live_contexts, 0);
}

TEST(Callback, ReferenceCoreIsShared) {
  Callback a([](SimpleEvent& evt) { evt.return_value = 3; });
  CallbackCore* core = a.core();
  EXPECT_EQ(core->ref_count(), 1);
  Callback b(a);
  Callback c;
  c = b;
  EXPECT_EQ(core->ref_count(), 3);
  EXPECT_EQ(a.core(), core);
  c = c;  // NOLINT: self-assignment keeps the core
  EXPECT_EQ(core->ref_count(), 3);
  Callback d(std::move(b));
  EXPECT_TRUE(b.is_empty());  // NOLINT: a moved-from handle is the empty callback
  EXPECT_EQ(core->ref_count(), 3);
  EXPECT_EQ(sync_callback(d), 3);
}

TEST(Callback, PlainCoreMovesInsteadOfSharing) {
  ASSERT_EQ(plain_cores, 0);
  {
    Callback a(new PlainCore());
    CallbackCore* core = a.core();
    Callback b(a);  // refused retain: b takes the core, a becomes empty
    EXPECT_TRUE(a.is_empty());
    EXPECT_EQ(b.core(), core);
    EXPECT_EQ(sync_callback(a), 0);
    EXPECT_EQ(sync_callback(b), 7);
    Callback c;
    c = b;
    EXPECT_TRUE(b.is_empty());
    EXPECT_EQ(c.core(), core);
    EXPECT_EQ(plain_cores, 1);
    c = Callback();  // the owner lets go: the core ends
    EXPECT_EQ(plain_cores, 0);
    c = Callback(new PlainCore());
    EXPECT_EQ(plain_cores, 1);
  }
  EXPECT_EQ(plain_cores, 0);
}

TEST(Callback, AsyncCallbackPostsWrappedCallback) {
  ended_errors = ended_data = 0;
  RecordingTarget target;
  Object* seen_data = nullptr;
  int32_t seen_code = 0;
  Callback cb([&](SimpleEvent& evt) {
    seen_code = evt.error ? evt.error->code() : 0;
    seen_data = evt.data;
    evt.return_value += 10;
  });
  CountedData* data = new CountedData();
  nubrix::async_callback(cb, new CountedError(), data, &target);
  EXPECT_FALSE(cb.is_empty());  // a Reference core is shared with the message
  EXPECT_EQ(cb.core()->ref_count(), 2);
  ASSERT_EQ(target.queue.size(), 1u);
  EXPECT_EQ(target.delays[0], 0u);
  EXPECT_EQ(seen_code, 0);  // nothing runs before the target fires it

  // The stored error and data replace the event's; return_value comes back to the firer.
  Error other(-9, "other");
  SimpleEvent evt = {&other, nullptr, 5};
  target.queue[0].call(evt);
  EXPECT_EQ(seen_code, -5);
  EXPECT_EQ(seen_data, data);
  EXPECT_EQ(evt.return_value, 15);
  EXPECT_EQ(ended_errors + ended_data, 0);
  target.queue.clear();
  EXPECT_EQ(ended_errors, 1);
  EXPECT_EQ(ended_data, 1);
  EXPECT_EQ(cb.core()->ref_count(), 1);
}

TEST(Callback, AsyncCallbackReleasesOnceWhenNeverFired) {
  ended_errors = ended_data = 0;
  ASSERT_EQ(plain_cores, 0);
  {
    RecordingTarget target;
    Callback cb(new PlainCore());
    nubrix::async_callback(cb, new CountedError(), new CountedData(), &target);
    EXPECT_TRUE(cb.is_empty());  // the unshareable core moved into the message
    EXPECT_EQ(plain_cores, 1);
    EXPECT_EQ(ended_errors + ended_data, 0);
  }
  EXPECT_EQ(ended_errors, 1);
  EXPECT_EQ(ended_data, 1);
  EXPECT_EQ(plain_cores, 0);

  // Without a target the message ends at once.
  nubrix::async_callback(Callback(), new CountedError(), new CountedData(), nullptr);
  EXPECT_EQ(ended_errors, 2);
  EXPECT_EQ(ended_data, 2);

  // Shared data is retained, not taken: the caller's reference survives the message.
  Context* shared = new Context();
  shared->retain();
  {
    RecordingTarget target;
    nubrix::async_callback(Callback(), nullptr, shared, &target);
    EXPECT_EQ(shared->ref_count(), 2);
  }
  EXPECT_EQ(shared->ref_count(), 1);
  shared->release();
  EXPECT_EQ(live_contexts, 0);
}

}  // namespace
