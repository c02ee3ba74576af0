// The parallel engine against Main_loop: the same input runs through both,
// which must agree on the outcome, the messages, the table and the soil
// water carried in the run state. Small batches, few batches in flight and
// a small share of line bytes per batch exercise every hand-over between
// reading, computing and writing.
//
// Input: byte 0 the parallel options (bits 0-2 records per batch less one,
// bit 3 batches in flight less one, bits 4-6 the bytes of lines in flight),
// then the layout of decodeRun (fuzz_support.h).
#include <cstring>

#include "fuzz_support.h"
#include "run/parallel_run.h"

namespace {

bool sameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vadoset::fuzz;
  ByteReader in(data, size);
  const std::uint8_t options = in.byte();
  RunInput input = decodeRun(in);

  constexpr std::size_t kLineBytes[] = {1, 64, 512, 4096, 4096, 65536, 1 << 20, 16 << 20};
  vadoset::ParallelOptions parallel;
  parallel.threads = 2;
  parallel.batchRecords = 1 + (options & 7);
  parallel.batchesInFlight = 1 + ((options >> 3) & 1);
  parallel.lineBytesInFlight = kLineBytes[(options >> 4) & 7];

  const RunResult one = runOnce(input, nullptr);
  // Main_loop stopped at its pass budget after some row: the parallel run,
  // which has no such count, stops after the same row.
  if (one.outcome == vadoset::RunOutcome::Stopped) input.stopAfterRows = one.rows;
  input.passBudget = INT64_MAX;
  const RunResult two = runOnce(input, &parallel);
  check(one.outcome == two.outcome, "runParallel and Main_loop end differently");
  check(one.messages == two.messages, "runParallel and Main_loop show different messages");
  check(one.warnings == two.warnings, "runParallel and Main_loop give different warnings");
  check(one.table == two.table, "runParallel and Main_loop write different tables");
  check(sameBits(one.carriedW, two.carriedW) && sameBits(one.carriedWs, two.carriedWs),
        "runParallel and Main_loop carry different soil water");
  return 0;
}
