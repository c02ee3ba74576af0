// Times the computation of every record of an input pair, with all parsing
// done before the clock starts and nothing written: the limit that a whole
// run of vadoset-cli is judged against.
//
//   vadoset-compute-only -t TEMP -p PREC [--format tab|hcn] [--latitude D]
//       [--field-capacity MM] [--function A..H] [--carryover]
//       [--repeat K] [--threads N] [--simd scalar|avx2|avx512] [--batch N]
//
// The records go to RecordEngine::computeBatch, N at a time (default 1024);
// --simd chooses the lane engine's level (default: as computeBatch chooses,
// the best the CPU has or VADOSET_SIMD). Prints key=value lines: the record
// counts, the simulated days, the time of each repetition and their median,
// records/s and ns per simulated day.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "bench_records.h"
#include "model/lanes.h"

using namespace vadoset;

namespace {

struct Totals {
  std::int64_t computed = 0;
  std::int64_t nullRows = 0;
  std::int64_t days = 0;
  std::int64_t passLimit = 0;
  double checksum = 0.0;

  void add(const Totals& o) {
    computed += o.computed;
    nullRows += o.nullRows;
    days += o.days;
    passLimit += o.passLimit;
    checksum += o.checksum;
  }
};

struct Options {
  lanes::SimdLevel level = lanes::SimdLevel::Scalar;
  std::size_t batch = 1024;
  int threads = 1;
};

// Records [begin, end) in batches, as a run would hand them to the engine.
void computeRange(const bench::LoadedInput& in, const Options& o, RecordEngine& engine, CarriedState& carried,
                  std::vector<RecordResult>& out, std::size_t begin, std::size_t end) {
  const std::span<const RecordInput> all(in.records);
  for (std::size_t b = begin; b < end; b += o.batch) {
    const std::size_t n = std::min(o.batch, end - b);
    if (in.model.carryover)
      engine.computeBatch(all.subspan(b, n), std::span(out).subspan(b, n), carried);
    else
      lanes::computeIndependent(engine, o.level, lanes::activeExpMode(o.level), lanes::activePowMode(o.level),
                                all.subspan(b, n), std::span(out).subspan(b, n), carried);
  }
}

Totals computeAll(const bench::LoadedInput& in, const Options& o, std::vector<RecordResult>& out) {
  const std::size_t n = in.records.size();
  if (o.threads <= 1 || in.model.carryover) {
    RecordEngine engine(in.model);
    CarriedState carried;
    computeRange(in, o, engine, carried, out, 0, n);
  } else {
    // Interleaved blocks keep the threads evenly loaded.
    const std::size_t block = o.batch * 4;
    std::vector<std::thread> pool;
    for (int t = 0; t < o.threads; ++t) {
      pool.emplace_back([&, t] {
        RecordEngine engine(in.model);
        CarriedState carried;
        const auto step = static_cast<std::size_t>(o.threads) * block;
        for (std::size_t b = static_cast<std::size_t>(t) * block; b < n; b += step)
          computeRange(in, o, engine, carried, out, b, std::min(n, b + block));
      });
    }
    for (std::thread& th : pool) th.join();
  }
  Totals t;
  for (const RecordResult& r : out) {
    t.days += static_cast<std::int64_t>(r.passes) * 365;
    if (r.passes == kPassLimit) ++t.passLimit;
    if (r.isNull()) {
      ++t.nullRows;
    } else {
      ++t.computed;
      for (std::size_t m = 0; m < 12; ++m) t.checksum += r.aet[m] + r.surplus[m];
    }
  }
  return t;
}

int usage() {
  std::fprintf(stderr,
               "usage: vadoset-compute-only -t TEMP -p PREC [--format tab|hcn] [--latitude D]\n"
               "       [--field-capacity MM] [--function A..H] [--carryover] [--repeat K] [--threads N]\n"
               "       [--simd scalar|avx2|avx512] [--batch N]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  int repeat = 5;
  Options o;
  o.level = lanes::activeSimdLevel();
  bool haveT = false, haveP = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
    if (a == "-t" || a == "--temperature") {
      settings.tmeanFile = next();
      haveT = true;
    } else if (a == "-p" || a == "--precipitation") {
      settings.precipFile = next();
      haveP = true;
    } else if (a == "--format") {
      settings.format = next() == "hcn" ? InputFormat::Hcn : InputFormat::Tab;
    } else if (a == "--latitude") {
      settings.latText = next();
    } else if (a == "--field-capacity") {
      settings.fcText = next();
    } else if (a == "--function") {
      std::string f = next();
      const std::optional<AvailabilityFunction> function = availabilityFunction(f);
      if (!function) return usage();
      settings.function = *function;
    } else if (a == "--carryover") {
      settings.carryover = true;
    } else if (a == "--repeat") {
      repeat = std::max(1, std::atoi(next().c_str()));
    } else if (a == "--threads") {
      o.threads = std::max(1, std::atoi(next().c_str()));
    } else if (a == "--batch") {
      o.batch = static_cast<std::size_t>(std::max(1, std::atoi(next().c_str())));
    } else if (a == "--simd") {
      const std::string l = next();
      if (l == "scalar")
        o.level = lanes::SimdLevel::Scalar;
      else if (l == "avx2")
        o.level = lanes::SimdLevel::Avx2;
      else if (l == "avx512")
        o.level = lanes::SimdLevel::Avx512;
      else
        return usage();
      if (!lanes::simdLevelSupported(o.level)) {
        std::fprintf(stderr, "this CPU has no %s\n", l.c_str());
        return 1;
      }
    } else {
      return usage();
    }
  }
  if (!haveT || !haveP) return usage();

  std::string error;
  std::optional<bench::LoadedInput> in = bench::loadRecords(settings, error);
  if (!in) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  lanes::activeExpMode(o.level);  // the start-up checks, outside the clock
  lanes::activePowMode(o.level);

  // Wall time, and the process's CPU time, which a busy machine disturbs less.
  auto cpuNow = [] { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; };
  std::vector<double> seconds;
  std::vector<double> cpuSeconds;
  std::vector<RecordResult> out(in->records.size());
  Totals t;
  for (int r = 0; r < repeat; ++r) {
    const double cpuStart = cpuNow();
    auto start = std::chrono::steady_clock::now();
    t = computeAll(*in, o, out);
    seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    cpuSeconds.push_back(cpuNow() - cpuStart);
  }
  std::sort(cpuSeconds.begin(), cpuSeconds.end());
  std::vector<double> sorted = seconds;
  std::sort(sorted.begin(), sorted.end());
  const double median = sorted[sorted.size() / 2];
  const double records = static_cast<double>(in->records.size());

  std::printf("records=%zu\ncomputed=%lld\nnull_rows=%lld\npass_limit=%lld\nsimulated_days=%lld\nthreads=%d\n",
              in->records.size(), static_cast<long long>(t.computed), static_cast<long long>(t.nullRows),
              static_cast<long long>(t.passLimit), static_cast<long long>(t.days), in->model.carryover ? 1 : o.threads);
  std::printf("simd=%s\nexp=%s\npow=%s\n",
              in->model.carryover ? "scalar (carry-over chain)" : lanes::simdLevelName(o.level),
              lanes::activeExpMode(o.level) == lanes::ExpMode::Vector ? "vector" : "per_lane",
              lanes::activePowMode(o.level) == lanes::PowMode::Vector ? "vector" : "per_lane");
  std::printf("seconds=");
  for (std::size_t i = 0; i < seconds.size(); ++i) std::printf("%s%.4f", i ? "," : "", seconds[i]);
  std::printf("\nmedian_seconds=%.4f\nmedian_cpu_seconds=%.4f\nrecords_per_s=%.0f\nns_per_day=%.3f\nchecksum=%.17g\n",
              median, cpuSeconds[cpuSeconds.size() / 2], records / median,
              t.days > 0 ? median * 1e9 / static_cast<double>(t.days) : 0.0, t.checksum);
  return 0;
}
