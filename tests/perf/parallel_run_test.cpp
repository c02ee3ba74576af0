// The multi-threaded run against the one-thread run: the same table,
// messages, counters and carried soil water for every thread count, and no
// allocation per record.

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <new>
#include <random>
#include <sstream>

#include "cli/cli.h"
#include "run/run.h"
#include "test_support.h"

// Every allocation of this test program is counted.
static std::atomic<long> gAllocations{0};
void* operator new(std::size_t n) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"  // the replaced operator new takes its memory from malloc
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
#pragma GCC diagnostic pop

namespace vadoset {
namespace {

using test::TempDir;

// Climates from polar to tropical with the faults of real files: missing
// months in every spelling, text and empty fields, short lines, bad latitudes,
// a temperature file two records short, trailing blank lines. With
// `trickyStart` the first record has a missing month and the second is
// perennial snow (a null row), so year_one matters at the start.
std::pair<std::string, std::string> makeInputs(std::uint64_t seed, int records, bool hcn, bool trickyStart) {
  std::mt19937_64 rng(seed);
  auto uniform = [&](double a, double b) { return a + (b - a) * static_cast<double>(rng() >> 11) * 0x1p-53; };
  auto text = [&](double v) {
    char b[32];
    std::snprintf(b, sizeof b, hcn ? "%5.0f" : "%.1f", hcn ? std::round(v * 10.0) + 0.0 : v);  // no "-0"
    return std::string(b);
  };
  std::string precip =
      hcn ? "HCN precipitation\n" : "Site\tLat\tJan\tFeb\tMar\tApr\tMay\tJun\tJul\tAug\tSep\tOct\tNov\tDec\n";
  std::string temp = hcn ? "HCN temperature\n" : precip;
  for (int i = 0; i < records; ++i) {
    const double lat = uniform(-70.0, 75.0), mean = uniform(-25.0, 28.0), amp = uniform(0.0, 20.0);
    const double wet = uniform(0.0, 250.0), sign = lat < 0 ? -1.0 : 1.0;
    const bool snow = trickyStart && i == 1;
    std::string id = "site " + std::to_string(i), latText = text(lat), p, t;
    std::vector<std::string> pm(12), tm(12);
    for (int m = 0; m < 12; ++m) {
      tm[m] = text(snow ? -20.0 : mean - sign * amp * std::cos(M_PI * (m + 0.5) / 6.0) + uniform(-2.0, 2.0));
      pm[m] = text(snow ? 60.0 : wet * uniform(0.0, 2.0));
    }
    const std::uint64_t fault = trickyStart && i == 0 ? 0 : rng() % 30, m = rng() % 12;
    if (fault == 0) tm[m] = hcn ? "-9999" : "NA";
    if (fault == 1) pm[m] = hcn ? "-9999" : "-9999.0";
    if (fault == 2) pm[m] = hcn ? "     " : "";
    if (fault == 3) tm[m] = hcn ? "  abc" : "abc";
    if (fault == 5) latText = "95";
    if (hcn) {
      char head[32];
      std::snprintf(head, sizeof head, "USC%08d %4d", i / 1000, 1000 + i % 1000);
      p = t = head;
      for (int k = 0; k < 12; ++k) p += pm[k], t += tm[k];
      precip += (fault == 4 ? p.substr(0, 40) : p) + "\n", temp += t + "\r\n";
    } else {
      if (fault == 4) pm.resize(7);
      precip += test::tabLine(id, latText, pm), temp += test::tabLine("x", "0", tm);
    }
  }
  for (int k = 0; k < 2; ++k) temp.erase(temp.rfind('\n', temp.size() - 2) + 1);
  return {precip + "\n  \n", temp};
}

struct Outcome {
  RunOutcome outcome{};
  std::string table;
  std::vector<std::string> messages, counters;
  std::uint64_t w = 0, ws = 0;  // the carried state, bit for bit: it decides the next run's first record
  bool operator==(const Outcome&) const = default;
};

// threads 1 computes on the calling thread. `carried` is kept, so a second
// call is a second press of Run that starts from the soil water the first
// carried over.
Outcome runOnce(CarriedState& carried, const Settings& settings, int stopAfter, const TempDir& dir, int threads,
                std::size_t batch) {
  RunConfig config = makeRunConfig(settings, dir.path().string(), dir.path().string());
  config.parallel = {threads, batch, 2};
  config.start = carried;
  test::TestObserver observer;
  observer.stopAfterRows = stopAfter;
  const RunResult r = runTable(config, observer);
  carried = r.carried;
  return {
      r.outcome,         test::readFile(dir / settings.outputFile),    test::messagesOf(r),
      observer.counters, std::bit_cast<std::uint64_t>(r.carried.soil), std::bit_cast<std::uint64_t>(r.carried.snow)};
}

// Tab and HCN, with and without carry-over, functions G, E and A (A runs dry
// years to the pass limit), two runs in a row, and stops after 0, 1, 2
// (year_one still set, then cleared) or 37 rows; batches of 1 and of 7 records.
TEST(ParallelRun, SameAsMainLoopForEveryThreadCount) {
  for (auto [hcn, beta, records] : {std::tuple{false, 6, 400}, {true, 6, 400}, {false, 0, 150}, {false, 4, 150}}) {
    for (bool carryover : {false, true}) {
      const auto [precip, temp] = makeInputs(hcn ? 11u : 7u + unsigned(beta), records, hcn, carryover);
      TempDir dir;
      Settings settings;
      settings.format = hcn ? InputFormat::Hcn : InputFormat::Tab, settings.carryover = carryover,
      settings.function = static_cast<AvailabilityFunction>(beta);
      settings.outputFile = "out.txt";
      dir.write(settings.precipFile, precip), dir.write(settings.tmeanFile, temp);
      for (int stopAfter : {-1, 0, 1, 2, 37}) {
        if (stopAfter >= 0 && (hcn || beta != 6)) continue;
        CarriedState refState;
        const Outcome ref[2] = {runOnce(refState, settings, stopAfter, dir, 1, 64),
                                runOnce(refState, settings, stopAfter, dir, 1, 64)};
        ASSERT_EQ(ref[0].outcome, stopAfter < 0 ? RunOutcome::Completed : RunOutcome::Stopped);
        ASSERT_EQ(test::tableLines(ref[0].table).size(), stopAfter < 0 ? records + 1u : stopAfter + 1u);
        // The second run starts from the soil water the first carried over
        // (from the third row on, after the null rows of the tricky start).
        EXPECT_TRUE(!carryover || (stopAfter >= 0 && stopAfter < 3) || ref[0].table != ref[1].table);
        for (auto [threads, batch] : {std::pair<int, std::size_t>{2, 1}, {3, 7}}) {
          CarriedState state;
          for (int run = 0; run < 2; ++run)
            EXPECT_TRUE(runOnce(state, settings, stopAfter, dir, threads, batch) == ref[run])
                << (hcn ? "HCN" : "tab") << ", function " << beta << (carryover ? ", carry-over" : "") << ", "
                << threads << " threads, stop after " << stopAfter << ", run " << run;
        }
      }
    }
  }
}

struct QuietObserver : RunObserver {};  // keeps no counter texts, which grow with the records

// Nothing is allocated per record: four times the records make as many
// allocations once the buffers have grown. With computing threads a few
// per-run allocations (a thread's copy of the settings) depend on scheduling.
TEST(Allocations, NonePerRecord) {
  auto allocationsOfRun = [](int n, bool hcn, bool carryover, int threads) {
    std::string text = hcn ? "HCN\n" : "Site\tLat\n";
    for (int i = 0; i < n; ++i)
      text += hcn ? "USC00000001 1990  -53   12  101  150  200  254  280  270  210  130   40  -20\n"
                  : test::tabLine(
                        "site " + std::to_string(i % 100), "44.5",
                        {"-5.3", "1.2", "10.1", "15", "20", "25.4", "28", "27", "21", "13", "4", i % 7 ? "-2" : "NA"});
    TempDir dir;
    QuietObserver observer;
    Settings settings;
    settings.format = hcn ? InputFormat::Hcn : InputFormat::Tab, settings.carryover = carryover;
    dir.write(settings.precipFile, text), dir.write(settings.tmeanFile, text);
    RunConfig config = makeRunConfig(settings, dir.path().string(), dir.path().string());
    config.parallel = {threads, 64};
    const long before = gAllocations.load();
    EXPECT_EQ(runTable(config, observer).outcome, RunOutcome::Completed);
    return gAllocations.load() - before;
  };
  for (int k = 0; k < 4; ++k) allocationsOfRun(300, k & 1, true, 1 + k / 2);  // one-time set-ups and thread start-up
  for (int k = 0; k < 8; ++k) {  // one and two threads, tab and HCN, with and without carry-over
    const int threads = 1 + k / 4;
    // Both runs read past the input buffer, where a line may span two reads.
    const long small = allocationsOfRun(1500, k & 2, k & 1, threads),
               large = allocationsOfRun(6000, k & 2, k & 1, threads);
    EXPECT_LE(std::labs(large - small), threads == 1 ? 0 : 20) << "case " << k;
  }
}

}  // namespace
}  // namespace vadoset
