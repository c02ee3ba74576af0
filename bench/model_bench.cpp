// Google Benchmark of the model's parts: each availability curve, PET, and
// the soil-water bucket per curve (as ns per simulated day), on the sample
// stations in examples/.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench_records.h"
#include "model/model.h"
#include "run/driver.h"

using namespace vadoset;

namespace {

// The sample stations with their PET, computed once.
struct Stations {
  RunState proto;
  std::vector<bench::BenchRecord> records;
  std::vector<MonthArray<double>> pet;
};

const Stations& stations() {
  static const Stations st = [] {
    Settings settings;
    settings.tmeanFile = VADOSET_SOURCE_DIR "/examples/allsites_temp.txt";
    settings.precipFile = VADOSET_SOURCE_DIR "/examples/allsites_prec.txt";
    std::string error;
    std::optional<bench::LoadedInput> in = bench::loadRecords(settings, error);
    Stations out;
    if (!in) return out;
    out.proto = std::move(in->proto);
    for (const bench::BenchRecord& r : in->records) {
      RunState s;
      s.settings = out.proto.settings;
      s.dm = out.proto.dm;
      bench::loadInto(s, r);
      if (recordIsMissing(s)) continue;
      Run_pet(s);
      out.records.push_back(r);
      out.pet.push_back(s.PET);
    }
    return out;
  }();
  return st;
}

void BM_Beta_function(benchmark::State& state) {
  const auto variant = static_cast<std::int32_t>(state.range(0));
  // Relative soil water from 0 to a little above 1, as the bucket passes it.
  std::vector<double> xs(4096);
  for (std::size_t i = 0; i < xs.size(); ++i) xs[i] = 1.1 * static_cast<double>(i) / static_cast<double>(xs.size());
  for (auto _ : state) {
    for (double x : xs) benchmark::DoNotOptimize(Beta_function(x, variant));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(xs.size()));
  state.SetLabel(std::string(1, static_cast<char>('A' + variant)));
}
BENCHMARK(BM_Beta_function)->DenseRange(0, 7);

void BM_Run_pet(benchmark::State& state) {
  const Stations& st = stations();
  RunState s;
  s.settings = st.proto.settings;
  s.dm = st.proto.dm;
  for (auto _ : state) {
    for (const bench::BenchRecord& r : st.records) {
      bench::loadInto(s, r);
      Run_pet(s);
      benchmark::DoNotOptimize(s.PET);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(st.records.size()));
}
BENCHMARK(BM_Run_pet);

// Every station of the sample as one record. Spun up (no carry-over): until
// it settles or ends as a null row. Carried: one pass of the year each, from
// the carried soil water.
void runModelBench(benchmark::State& state, bool carried) {
  const Stations& st = stations();
  RunState s;
  s.settings = st.proto.settings;
  s.settings.beta = static_cast<int>(state.range(0));
  s.dm = st.proto.dm;
  s.fc = st.proto.fc;
  s.carryover = carried;
  s.current_w = s.fc;
  std::int64_t days = 0;
  for (auto _ : state) {
    for (std::size_t i = 0; i < st.records.size(); ++i) {
      bench::loadInto(s, st.records[i]);
      s.PET = st.pet[i];
      s.nullcell = 0;
      if (carried) s.year_one = false;
      Run_model(s);
      days += static_cast<std::int64_t>(s.passes) * 365;
      benchmark::DoNotOptimize(s.E);
    }
  }
  state.SetItemsProcessed(days);
  // Seconds per simulated day, shown with an SI prefix ("5.6ns").
  state.counters["per_day"] =
      benchmark::Counter(static_cast<double>(days), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.SetLabel(std::string(1, static_cast<char>('A' + state.range(0))));
}

void BM_Run_model(benchmark::State& state) { runModelBench(state, false); }
BENCHMARK(BM_Run_model)->DenseRange(0, 7);

void BM_Run_model_carried(benchmark::State& state) { runModelBench(state, true); }
BENCHMARK(BM_Run_model_carried)->DenseRange(0, 7);

}  // namespace

BENCHMARK_MAIN();
