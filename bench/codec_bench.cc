// UTF-8 <-> UTF-16 throughput over 10 MB of text: the lossless pair the driver uses
// for source files and the named UTF8 encoding, on ASCII source-like text and on
// mixed text (about 10% of the characters two or three bytes long). Bytes processed
// are counted as the UTF-8 size of the text in both directions, so the rates of the
// two directions compare directly.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "utils/codec.h"

namespace nubrix {
namespace {

constexpr size_t kTextBytes = 10 * 1024 * 1024;

// Lines that look like the compiler's input: keywords, identifiers, operators,
// strings and comments.
std::string source_text(bool mixed, double* wide_share) {
  static const char* const kWords[] = {"const",  "let",    "function", "return", "import",
                                       "export", "class",  "this",     "value",  "items",
                                       "count",  "render", "props",    "state",  "index"};
  static const char* const kWide[] = {"\xC3\xA9",     "\xC3\xBC",     "\xC3\x9F",
                                      "\xCE\xBB",     "\xD0\x96",     "\xE2\x82\xAC",
                                      "\xE4\xB8\xAD", "\xE6\x96\x87", "\xE2\x80\x94"};
  std::mt19937 rng(1);
  std::string text;
  text.reserve(kTextBytes + 256);
  uint32_t chars = 0, wide = 0;
  while (text.size() < kTextBytes) {
    std::string line = "  ";
    int words = 3 + (int)(rng() % 6);
    for (int w = 0; w < words; w++) {
      line += kWords[rng() % 15];
      line += rng() % 3 ? " " : " = ";
    }
    line += "// note\n";
    for (char c : line) {
      text += c;
      chars++;
      // Roughly one character in ten is a two- or three-byte one.
      if (mixed && (c == ' ' || c == 'e' || c == 'o' || c == 't') && rng() % 100 < 30) {
        text += kWide[rng() % 9];
        chars++;
        wide++;
      }
    }
  }
  *wide_share = chars ? (double)wide / chars : 0;
  return text;
}

double wide_share[2];

const std::string& text(bool mixed) {
  static const std::string ascii = source_text(false, &wide_share[0]);
  static const std::string wide = source_text(true, &wide_share[1]);
  return mixed ? wide : ascii;
}

// Bytes processed, and the share of two- and three-byte characters in the text.
void report(benchmark::State& state, const std::string& s, bool mixed) {
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)s.size());
  state.counters["wide_share"] = wide_share[mixed];
}

void BM_Utf8ToUtf16(benchmark::State& state) {
  const std::string& s = text(state.range(0));
  for (auto _ : state) {
    ArrayBuffer<uint16_t> out = utf8_to_utf16(s.data(), (uint32_t)s.size());
    benchmark::DoNotOptimize(out.data());
  }
  report(state, s, state.range(0));
}

void BM_Utf16ToUtf8(benchmark::State& state) {
  const std::string& s = text(state.range(0));
  ArrayBuffer<uint16_t> wide = utf8_to_utf16(s.data(), (uint32_t)s.size());
  for (auto _ : state) {
    Buffer out = utf16_to_utf8(wide.data(), wide.length());
    benchmark::DoNotOptimize(out.data());
  }
  report(state, s, state.range(0));
}

void BM_DecodeUtf8(benchmark::State& state) {
  const std::string& s = text(state.range(0));
  for (auto _ : state) {
    ArrayBuffer<uint16_t> out = decode_to_uint16(UTF8, s.data(), (uint32_t)s.size());
    benchmark::DoNotOptimize(out.data());
  }
  report(state, s, state.range(0));
}

void BM_EncodeUtf8(benchmark::State& state) {
  const std::string& s = text(state.range(0));
  ArrayBuffer<uint16_t> wide = decode_to_uint16(UTF8, s.data(), (uint32_t)s.size());
  for (auto _ : state) {
    Buffer out = encode(UTF8, wide.data(), wide.length());
    benchmark::DoNotOptimize(out.data());
  }
  report(state, s, state.range(0));
}

// Argument 0: ASCII source text; 1: mixed text.
BENCHMARK(BM_Utf8ToUtf16)->ArgName("mixed")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf16ToUtf8)->ArgName("mixed")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeUtf8)->ArgName("mixed")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeUtf8)->ArgName("mixed")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace nubrix

BENCHMARK_MAIN();
