// Google Benchmark of number text and parsing: shortestDoubleText against
// std::to_chars, ParseNumber against
// std::from_chars, on a table's values and on an input file's fields.

#include <benchmark/benchmark.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/double_text.h"
#include "platform/text.h"

using namespace vadoset;

namespace {

// A table's numbers: 0 to 5,000 with all their digits, one in eight a whole
// number or one decimal; or any bit pattern.
std::vector<double> values(bool anyBits) {
  std::mt19937_64 rng(7);
  std::vector<double> v(4096);
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (anyBits) {
      do v[i] = std::bit_cast<double>(rng());
      while (!std::isfinite(v[i]));
    } else {
      v[i] = static_cast<double>(rng() >> 11) * 0x1p-53 * 5000.0;
      if (i % 8 == 0) v[i] = std::round(v[i] * 10.0) / 10.0;
    }
  }
  return v;
}

template <class Format>
void formatBench(benchmark::State& state, Format format) {
  const std::vector<double> v = values(state.range(0) != 0);
  char buf[64];
  for (auto _ : state) {
    for (double x : v) {
      benchmark::DoNotOptimize(format(x, buf));
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(v.size()));
  state.SetLabel(state.range(0) != 0 ? "any bits" : "0 to 5000");
}

void BM_ToChars(benchmark::State& state) {
  formatBench(state, [](double x, char* b) { return std::to_chars(b, b + 64, x).ptr; });
}
void BM_ShortestDoubleText(benchmark::State& state) {
  formatBench(state, shortestDoubleText);
}
BENCHMARK(BM_ToChars)->Arg(0)->Arg(1);
BENCHMARK(BM_ShortestDoubleText)->Arg(0)->Arg(1);

// An input file's fields: temperatures with one decimal, whole millimetres,
// latitudes with two decimals, a missing marker now and then.
std::vector<std::string> fields() {
  std::mt19937_64 rng(11);
  std::vector<std::string> f;
  for (int i = 0; i < 4096; ++i) {
    char b[32];
    const int r = static_cast<int>(rng() % 1000);
    if (i % 500 == 0)
      f.emplace_back("-9999");
    else if (i % 3 == 0)
      f.emplace_back(b, std::to_chars(b, b + 32, (r - 400) / 10.0).ptr);
    else if (i % 3 == 1)
      f.emplace_back(b, std::to_chars(b, b + 32, r).ptr);
    else
      f.emplace_back(b, std::to_chars(b, b + 32, (r * 17 % 18000 - 9000) / 100.0).ptr);
  }
  return f;
}

void BM_FromChars(benchmark::State& state) {
  const std::vector<std::string> f = fields();
  for (auto _ : state) {
    for (const std::string& s : f) {
      double v = 0.0;
      std::from_chars(s.data(), s.data() + s.size(), v);
      benchmark::DoNotOptimize(v);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(f.size()));
}
void BM_ParseNumber(benchmark::State& state) {
  const std::vector<std::string> f = fields();
  for (auto _ : state) {
    for (const std::string& s : f) benchmark::DoNotOptimize(ParseNumber(s));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(f.size()));
}
BENCHMARK(BM_FromChars);
BENCHMARK(BM_ParseNumber);

}  // namespace

BENCHMARK_MAIN();
