// BasicStringBuilder over the transpiler's typical load: one million short String16
// pieces (tokens and the white space between them) pushed and joined once.
#include <benchmark/benchmark.h>

#include <vector>

#include "utils/string-builder.h"

namespace nubrix {
namespace {

constexpr uint32_t kPieces = 1000000;

std::vector<String16> token_pool() {
  static const char* const kTokens[] = {
      "const",  " ",    "x", "=",     "(", ")",     "{",  "}",      ";",     "\n  ",
      "return", "this", ".", "value", ",", "items", "=>", "render", "props", "\"text\""};
  std::vector<String16> pool;
  for (const char* t : kTokens) pool.emplace_back(t);
  return pool;
}

void BM_BuilderPushJoin(benchmark::State& state) {
  const std::vector<String16> pool = token_pool();
  uint64_t units = 0;
  for (auto _ : state) {
    BasicStringBuilder builder;
    for (uint32_t i = 0; i < kPieces; i++) builder.push(pool[i % pool.size()]);
    String16 joined = builder.join();
    units = joined.length();
    benchmark::DoNotOptimize(joined.data());
  }
  state.SetItemsProcessed((int64_t)state.iterations() * kPieces);
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)units * 2);
}

void BM_BuilderPushOnly(benchmark::State& state) {
  const std::vector<String16> pool = token_pool();
  for (auto _ : state) {
    BasicStringBuilder builder;
    for (uint32_t i = 0; i < kPieces; i++) builder.push(pool[i % pool.size()]);
    benchmark::DoNotOptimize(builder.string_length());
  }
  state.SetItemsProcessed((int64_t)state.iterations() * kPieces);
}

BENCHMARK(BM_BuilderPushJoin)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuilderPushOnly)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace nubrix

BENCHMARK_MAIN();
