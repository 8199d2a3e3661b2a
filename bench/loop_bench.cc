// Run-loop throughput and latency: messages posted from one thread and dispatched on
// another thread's loop, post-to-dispatch latency (median and 99th percentile), and
// post_sync round trips. Posting fresh lambdas from one and from four producers is
// measured beside a bare libuv baseline doing the same work: `uv_async_send` plus a
// mutex-protected queue of `std::function`, swapped out whole by the loop thread.
#include <benchmark/benchmark.h>
#include <uv.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "utils/loop.h"
#include "utils/util.h"

using namespace nubrix;

namespace {

// A framework thread running a kept loop for the whole benchmark.
class BenchLoop {
 public:
  BenchLoop() {
    id_ = Thread::spawn([this](Thread&) {
      RunLoop* loop = RunLoop::current();
      keep_ = loop->keep_alive("bench");
      loop_.store(loop);
      loop->run(0);
      return 0;
    });
    while (!loop_.load()) std::this_thread::yield();
  }
  ~BenchLoop() {
    keep_->release();
    Thread::wait_for_end(id_);
  }
  RunLoop* loop() { return loop_.load(); }

 private:
  std::thread::id id_;
  std::atomic<RunLoop*> loop_{nullptr};
  KeepLoop* keep_ = nullptr;
};

void BM_CrossThreadMessages(benchmark::State& state) {
  BenchLoop bl;
  RunLoop* loop = bl.loop();
  const int64_t batch = 100000;
  std::atomic<int64_t> fired{0};
  Callback cb([&](SimpleEvent&) { fired.fetch_add(1, std::memory_order_relaxed); });
  int64_t total = 0;
  for (auto _ : state) {
    for (int64_t i = 0; i < batch; i++) loop->post(cb);
    total += batch;
    while (fired.load() < total) std::this_thread::yield();
  }
  state.SetItemsProcessed(total);
}
BENCHMARK(BM_CrossThreadMessages)->Unit(benchmark::kMillisecond)->UseRealTime();

// The baseline: a libuv loop on its own thread, fed through an async handle and a
// vector of std::function under one mutex.
class BareLoop {
 public:
  BareLoop() {
    uv_loop_init(&loop_);
    uv_async_init(&loop_, &async_, on_async);
    async_.data = this;
    thread_ = std::thread([this] { uv_run(&loop_, UV_RUN_DEFAULT); });
  }
  ~BareLoop() {
    post([this] { uv_close((uv_handle_t*)&async_, nullptr); });
    thread_.join();
    uv_loop_close(&loop_);
  }
  void post(std::function<void()> f) {
    {
      std::lock_guard<std::mutex> l(mutex_);
      queue_.push_back(std::move(f));
    }
    uv_async_send(&async_);
  }

 private:
  static void on_async(uv_async_t* h) {
    BareLoop* self = (BareLoop*)h->data;
    std::vector<std::function<void()>> batch;
    {
      std::lock_guard<std::mutex> l(self->mutex_);
      batch.swap(self->queue_);
    }
    for (auto& f : batch) f();
  }
  uv_loop_t loop_;
  uv_async_t async_;
  std::mutex mutex_;
  std::vector<std::function<void()>> queue_;
  std::thread thread_;
};

constexpr int64_t kLambdaBatch = 200000;

// The count of fired messages, on a cache line of its own: the loop thread writes it for
// every message, and a neighbour that the producers read (the loop pointer, say) would
// cost them a cache miss per post that has nothing to do with posting.
struct alignas(64) FiredCount {
  std::atomic<int64_t> n{0};
  char pad[64 - sizeof(std::atomic<int64_t>)];
};

// Each producer posts its share of a batch of fresh lambdas; the batch ends when all
// have fired.
template <typename Post>
void produce(int producers, const Post& post) {
  std::vector<std::thread> threads;
  for (int p = 0; p < producers; p++) {
    // Each thread has its own copy of what it reads for every post.
    threads.emplace_back([post, count = kLambdaBatch / producers] {
      for (int64_t i = 0; i < count; i++) post();
    });
  }
  for (auto& t : threads) t.join();
}

// Batches of fresh lambdas from `state.range(0)` producers; `post(n)` posts one that
// adds 1 to `n` when it fires.
template <typename Post>
void lambda_batches(benchmark::State& state, const Post& post) {
  int producers = (int)state.range(0);
  FiredCount fired;
  std::atomic<int64_t>* n = &fired.n;
  int64_t total = 0;
  for (auto _ : state) {
    produce(producers, [post, n] { post(n); });
    total += kLambdaBatch / producers * producers;
    while (n->load() < total) std::this_thread::yield();
  }
  state.SetItemsProcessed(total);
}

void BM_PostLambda(benchmark::State& state) {
  BenchLoop bl;
  RunLoop* loop = bl.loop();
  lambda_batches(state, [loop](std::atomic<int64_t>* n) {
    loop->post([n](SimpleEvent&) { n->fetch_add(1, std::memory_order_relaxed); });
  });
}
BENCHMARK(BM_PostLambda)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BareLibuvLambda(benchmark::State& state) {
  BareLoop bl;
  BareLoop* loop = &bl;
  lambda_batches(state, [loop](std::atomic<int64_t>* n) {
    loop->post([n] { n->fetch_add(1, std::memory_order_relaxed); });
  });
}
BENCHMARK(BM_BareLibuvLambda)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PostToDispatchLatency(benchmark::State& state) {
  BenchLoop bl;
  RunLoop* loop = bl.loop();
  std::vector<int64_t> samples;
  for (auto _ : state) {
    std::atomic<int64_t> at{0};
    int64_t posted = time_monotonic();
    loop->post([&](SimpleEvent&) { at.store(time_monotonic()); });
    while (at.load() == 0) std::this_thread::yield();
    samples.push_back(at.load() - posted);
  }
  std::sort(samples.begin(), samples.end());
  if (!samples.empty()) {
    state.counters["median_us"] = (double)samples[samples.size() / 2];
    state.counters["p99_us"] = (double)samples[samples.size() * 99 / 100];
  }
}
BENCHMARK(BM_PostToDispatchLatency)->Iterations(20000)->UseRealTime();

void BM_PostSyncRoundTrip(benchmark::State& state) {
  BenchLoop bl;
  RunLoop* loop = bl.loop();
  int64_t n = 0;
  Callback cb([&](SimpleEvent&) { n++; });
  for (auto _ : state) loop->post_sync(cb);
  state.SetItemsProcessed(state.iterations());
  benchmark::DoNotOptimize(n);
}
BENCHMARK(BM_PostSyncRoundTrip)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
