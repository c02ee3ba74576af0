// Times the computation of every record of an input pair, with all parsing
// done before the clock starts and nothing written: the limit that a whole
// run of vadoset-cli is judged against.
//
//   vadoset-compute-only -t TEMP -p PREC [--format tab|hcn] [--latitude D]
//       [--field-capacity MM] [--function A..H] [--carryover]
//       [--repeat K] [--threads N]
//
// Prints key=value lines: the record counts, the simulated days, the time of
// each repetition and their median, records/s and ns per simulated day.

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bench_records.h"
#include "run/driver.h"

using namespace vadoset;

namespace {

struct Totals {
  std::int64_t computed = 0;
  std::int64_t nullRows = 0;
  std::int64_t days = 0;
  std::int64_t passLimit = 0;
  double checksum = 0.0;
};

// One run over records [begin, end) as the driver would compute them.
Totals computeRange(const bench::LoadedInput& in, std::size_t begin, std::size_t end) {
  RunState s;
  s.settings = in.proto.settings;
  s.fc = in.proto.fc;
  s.dm = in.proto.dm;
  s.carryover = in.proto.carryover;
  s.hcn_latitude = in.proto.hcn_latitude;
  s.year_one = true;
  Totals t;
  for (std::size_t i = begin; i < end; ++i) {
    bench::loadInto(s, in.records[i]);
    s.passes = 0;
    computeRecord(s, nullptr);
    t.days += static_cast<std::int64_t>(s.passes) * 365;
    if (s.passes == 1002) ++t.passLimit;
    if (s.nullcell == 1) {
      ++t.nullRows;
    } else {
      ++t.computed;
      for (int m = 1; m <= 12; ++m) t.checksum += s.E[m] + s.Surplus[m];
    }
  }
  return t;
}

Totals computeAll(const bench::LoadedInput& in, int threads) {
  const std::size_t n = in.records.size();
  if (threads <= 1 || in.proto.carryover) return computeRange(in, 0, n);
  // Interleaved blocks keep the threads evenly loaded.
  constexpr std::size_t kBlock = 256;
  std::vector<Totals> parts(static_cast<std::size_t>(threads));
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      Totals& acc = parts[static_cast<std::size_t>(t)];
      for (std::size_t b = static_cast<std::size_t>(t) * kBlock; b < n; b += static_cast<std::size_t>(threads) * kBlock) {
        Totals p = computeRange(in, b, std::min(n, b + kBlock));
        acc.computed += p.computed;
        acc.nullRows += p.nullRows;
        acc.days += p.days;
        acc.passLimit += p.passLimit;
        acc.checksum += p.checksum;
      }
    });
  }
  for (std::thread& th : pool) th.join();
  Totals all;
  for (const Totals& p : parts) {
    all.computed += p.computed;
    all.nullRows += p.nullRows;
    all.days += p.days;
    all.passLimit += p.passLimit;
    all.checksum += p.checksum;
  }
  return all;
}

int usage() {
  std::fprintf(stderr,
               "usage: vadoset-compute-only -t TEMP -p PREC [--format tab|hcn] [--latitude D]\n"
               "       [--field-capacity MM] [--function A..H] [--carryover] [--repeat K] [--threads N]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  int repeat = 5;
  int threads = 1;
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
      settings.format = next() == "hcn" ? 1 : 0;
    } else if (a == "--latitude") {
      settings.latText = next();
    } else if (a == "--field-capacity") {
      settings.fcText = next();
    } else if (a == "--function") {
      std::string f = next();
      if (f.size() != 1 || f[0] < 'A' || f[0] > 'H') return usage();
      settings.beta = f[0] - 'A';
    } else if (a == "--carryover") {
      settings.carryover = true;
    } else if (a == "--repeat") {
      repeat = std::max(1, std::atoi(next().c_str()));
    } else if (a == "--threads") {
      threads = std::max(1, std::atoi(next().c_str()));
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

  // Wall time, and the process's CPU time, which a busy machine disturbs less.
  auto cpuNow = [] { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; };
  std::vector<double> seconds;
  std::vector<double> cpuSeconds;
  Totals t;
  for (int r = 0; r < repeat; ++r) {
    const double cpuStart = cpuNow();
    auto start = std::chrono::steady_clock::now();
    t = computeAll(*in, threads);
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
              static_cast<long long>(t.passLimit), static_cast<long long>(t.days),
              in->proto.carryover ? 1 : threads);
  std::printf("seconds=");
  for (std::size_t i = 0; i < seconds.size(); ++i) std::printf("%s%.4f", i ? "," : "", seconds[i]);
  std::printf("\nmedian_seconds=%.4f\nmedian_cpu_seconds=%.4f\nrecords_per_s=%.0f\nns_per_day=%.3f\nchecksum=%.17g\n", median, cpuSeconds[cpuSeconds.size() / 2],
              records / median, t.days > 0 ? median * 1e9 / static_cast<double>(t.days) : 0.0, t.checksum);
  return 0;
}
