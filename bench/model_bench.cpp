// Google Benchmark of the model's parts: each availability curve, PET, the
// soil-water bucket per curve (as ns per simulated day) in the scalar
// engine, the lane kernels' day loop alone, and computeBatch at each level,
// on the sample stations in examples/.

#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdint>
#include <random>
#include <vector>

#include "bench_records.h"
#include "model/beta.h"
#include "model/lanes.h"
#include "platform/double_text.h"

using namespace vadoset;

namespace {

// The sample stations that can be computed, with their PET.
struct Stations {
  bench::LoadedInput loaded;
  std::vector<RecordInput> records;
  std::vector<RecordResult> pet;
};

const Stations& stations() {
  static const Stations st = [] {
    Settings settings;
    settings.tmeanFile = VADOSET_SOURCE_DIR "/examples/allsites_temp.txt";
    settings.precipFile = VADOSET_SOURCE_DIR "/examples/allsites_prec.txt";
    std::string error;
    Stations out;
    std::optional<bench::LoadedInput> in = bench::loadRecords(settings, error);
    if (!in) return out;
    out.loaded = std::move(*in);
    RecordEngine engine;
    for (const RecordInput& r : out.loaded.records) {
      std::int8_t month = 0;
      if (checkRecord(r, month) != NullReason::None) continue;
      RecordResult res;
      engine.Run_pet(r, res);
      out.records.push_back(r);
      out.pet.push_back(res);
    }
    return out;
  }();
  return st;
}

std::string functionLabel(std::int64_t function) {
  return std::string(1, static_cast<char>('A' + function));
}

void BM_Beta_function(benchmark::State& state) {
  const auto variant = static_cast<AvailabilityFunction>(state.range(0));
  // Relative soil water from 0 to a little above 1, as the bucket passes it.
  std::vector<double> xs(4096);
  for (std::size_t i = 0; i < xs.size(); ++i) xs[i] = 1.1 * static_cast<double>(i) / static_cast<double>(xs.size());
  for (auto _ : state) {
    for (double x : xs) benchmark::DoNotOptimize(Beta_function(x, variant));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(xs.size()));
  state.SetLabel(functionLabel(static_cast<std::int32_t>(state.range(0))));
}
BENCHMARK(BM_Beta_function)->DenseRange(0, 7);

void BM_Pet(benchmark::State& state) {
  const Stations& st = stations();
  RecordEngine engine;
  RecordResult r;
  for (auto _ : state) {
    for (const RecordInput& in : st.records) {
      engine.Run_pet(in, r);
      benchmark::DoNotOptimize(r.pet);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(st.records.size()));
}
BENCHMARK(BM_Pet);

void setPerDay(benchmark::State& state, std::int64_t days) {
  // Seconds per simulated day, shown with an SI prefix ("5.6ns").
  state.counters["per_day"] =
      benchmark::Counter(static_cast<double>(days), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The scalar engine's soil-water step, every station spun up without
// carry-over.
void BM_Balance(benchmark::State& state) {
  const Stations& st = stations();
  ModelParams params;
  params.function = static_cast<AvailabilityFunction>(state.range(0));
  RecordEngine engine(params);
  std::int64_t days = 0;
  for (auto _ : state) {
    for (std::size_t i = 0; i < st.records.size(); ++i) {
      RecordResult r = st.pet[i];
      CarriedState carried;
      engine.Run_model(st.records[i], carried, r);
      days += static_cast<std::int64_t>(r.passes) * 365;
      benchmark::DoNotOptimize(r.aet);
    }
  }
  state.SetItemsProcessed(days);
  setPerDay(state, days);
  state.SetLabel(functionLabel(state.range(0)));
}
BENCHMARK(BM_Balance)->DenseRange(0, 7);

// The lane kernels' day loop alone: one pass over the year for every lane
// (the stations over and over), timed per record-day.
void BM_DayLoop(benchmark::State& state) {
  const auto level = static_cast<lanes::SimdLevel>(state.range(1));
  if (!lanes::simdLevelSupported(level)) {
    state.SkipWithError("the CPU lacks this level");
    return;
  }
  const Stations& st = stations();
  const lanes::KernelSet& set = level == lanes::SimdLevel::Avx512 ? lanes::avx512Kernels() : lanes::avx2Kernels();
  const int laneCount = set.lanesPerVector * set.maxVectors;
  static lanes::LaneBlock block;
  for (int l = 0; l < laneCount; ++l) {
    const std::size_t i = static_cast<std::size_t>(l) % st.records.size();
    for (std::size_t m = 0; m < 12; ++m) {
      block.tmean[m][l] = st.records[i].tmean[m];
      block.ppt[m][l] = st.records[i].ppt[m];
      block.pet[m][l] = st.pet[i].pet[m];
    }
    block.fc[l] = st.records[i].fieldCapacity;
  }
  const auto function = static_cast<int>(state.range(0));
  const lanes::YearKernel kernel =
      set.kernels[function + 1][lanes::activeExpMode(level) == lanes::ExpMode::Vector ? 1 : 0];
  const ExpConstants& e = expConstants();
  const lanes::CurveConstants k{e.e5, e.e4, e.e3};
  for (auto _ : state) {
    // Every pass from field capacity, as a record's first.
    for (int l = 0; l < laneCount; ++l) {
      block.w[l] = block.fc[l];
      block.ws[l] = 0.0;
    }
    kernel(block, set.maxVectors, k);
    benchmark::DoNotOptimize(block.aet);
  }
  const std::int64_t days = state.iterations() * laneCount * 365;
  state.SetItemsProcessed(days);
  setPerDay(state, days);
  state.SetLabel(functionLabel(function) + " " + lanes::simdLevelName(level));
}
BENCHMARK(BM_DayLoop)->ArgsProduct({benchmark::CreateDenseRange(0, 7, 1), {1, 2}});

// computeBatch without carry-over at each level: PET and the spin-up of 4400
// records (the stations 200 times over).
void BM_Batch(benchmark::State& state) {
  const auto level = static_cast<lanes::SimdLevel>(state.range(1));
  if (!lanes::simdLevelSupported(level)) {
    state.SkipWithError("the CPU lacks this level");
    return;
  }
  const Stations& st = stations();
  std::vector<RecordInput> in;
  for (int i = 0; i < 200; ++i) in.insert(in.end(), st.records.begin(), st.records.end());
  std::vector<RecordResult> out(in.size());
  ModelParams params;
  params.function = static_cast<AvailabilityFunction>(state.range(0));
  RecordEngine engine(params);
  const lanes::ExpMode exp = lanes::activeExpMode(level);
  const lanes::PowMode pow = lanes::activePowMode(level);
  std::int64_t days = 0;
  std::int64_t records = 0;
  for (auto _ : state) {
    CarriedState carried;
    lanes::computeIndependent(engine, level, exp, pow, in, out, carried);
    for (const RecordResult& r : out) days += static_cast<std::int64_t>(r.passes) * 365;
    records += static_cast<std::int64_t>(in.size());
  }
  state.SetItemsProcessed(records);
  setPerDay(state, days);
  state.SetLabel(functionLabel(state.range(0)) + " " + lanes::simdLevelName(level));
}
BENCHMARK(BM_Batch)->ArgsProduct({benchmark::CreateDenseRange(0, 7, 1), {0, 1, 2}});

// The table's numbers in shortest form: shortestDoubleText against
// std::to_chars (the same text), on values like a table's (0 to 300 with
// all their digits, a quarter of them with one decimal).
void formatBench(benchmark::State& state, bool library) {
  std::mt19937_64 g(5);
  std::uniform_real_distribution<double> u(0.0, 300.0);
  std::vector<double> values(4096);
  for (std::size_t i = 0; i < values.size(); ++i) {
    values[i] = u(g);
    if (i % 4 == 0) values[i] = static_cast<double>(static_cast<int>(values[i] * 10.0)) / 10.0;
  }
  char buf[64];
  for (auto _ : state) {
    for (double v : values) {
      const std::size_t n = library ? static_cast<std::size_t>(std::to_chars(buf, buf + sizeof buf, v).ptr - buf)
                                    : shortestDoubleText(v, buf);
      benchmark::DoNotOptimize(n);
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(values.size()));
}
void BM_ShortestDoubleText(benchmark::State& state) {
  formatBench(state, false);
}
void BM_ToChars(benchmark::State& state) {
  formatBench(state, true);
}
BENCHMARK(BM_ShortestDoubleText);
BENCHMARK(BM_ToChars);

}  // namespace

BENCHMARK_MAIN();
