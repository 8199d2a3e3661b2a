// Run-loop throughput and latency: messages posted from one thread and dispatched on
// another thread's loop, post-to-dispatch latency (median and 99th percentile), and
// post_sync round trips.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
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
