#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "run/driver.h"
#include "run/parallel_run.h"
#include "run/run_state.h"
#include "test_support.h"

// Every allocation of this test program is counted.
namespace {
std::atomic<long> gAllocations{0};
}

void* operator new(std::size_t n) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
// The replaced operator new takes its memory from malloc.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace vadoset {
namespace {

// A host that keeps nothing per row.
class QuietHost : public Host {
 public:
  Settings s;
  Settings settings() override { return s; }
  std::optional<std::string> selectFolder(std::string_view, std::string_view) override { return std::string(); }
  void showMessage(std::string_view) override {}
  void setCounter(std::string_view) override {}
};

std::string records(int n, bool hcn) {
  std::string text = hcn ? "HCN\n" : "Site\tLat\n";
  for (int i = 0; i < n; ++i) {
    if (hcn) {
      text += "USC00000001 1990  -53   12  101  150  200  254  280  270  210  130   40  -20\n";
    } else {
      text += test::tabLine("site " + std::to_string(i % 100), "44.5",
                            {"-5.3", "1.2", "10.1", "15", "20", "25.4", "28", "27", "21", "13", "4", i % 7 ? "-2" : "NA"});
    }
  }
  return text;
}

// Allocations of a whole run over n records.
long allocationsOfRun(int n, bool hcn, bool carryover, int threads) {
  test::TempDir dir;
  QuietHost host;
  host.s.precipFile = dir.write("p.txt", records(n, hcn)).string();
  host.s.tmeanFile = dir.write("t.txt", records(n, hcn)).string();
  host.s.outputFile = (dir / "out.txt").string();
  host.s.format = hcn ? 1 : 0;
  host.s.carryover = carryover;
  RunState state;
  ParallelOptions options;
  options.threads = threads;
  options.batchRecords = 64;
  const long before = gAllocations.load();
  RunOutcome outcome = runParallel(state, host, options);
  const long used = gAllocations.load() - before;
  EXPECT_EQ(outcome, RunOutcome::Completed);
  return used;
}

// Nothing is allocated per record: a run of twenty times as many records
// makes as many allocations, once the buffers have grown to their size. With
// computing threads a few per-run allocations (a thread's copy of the
// settings, made when it first gets work) depend on the scheduling.
TEST(Allocations, NonePerRecord) {
  // One-time set-ups of the program (static tables, the first thread's
  // start-up) are not per record.
  for (int threads : {1, 2})
    for (bool hcn : {false, true}) allocationsOfRun(300, hcn, true, threads);
  for (int threads : {1, 2}) {
    for (bool hcn : {false, true}) {
      for (bool carryover : {false, true}) {
        SCOPED_TRACE(std::to_string(threads) + " threads" + (hcn ? ", HCN" : "") + (carryover ? ", carry-over" : ""));
        const long small = allocationsOfRun(300, hcn, carryover, threads);
        const long large = allocationsOfRun(6000, hcn, carryover, threads);
        if (threads == 1)
          EXPECT_EQ(large, small);
        else
          EXPECT_LE(std::labs(large - small), 20);
      }
    }
  }
}

}  // namespace
}  // namespace vadoset
