// The parallel run against the one-thread run: the same input runs through
// both, which must agree on the outcome, the messages, the table and the
// carried soil water. Small batches, few batches in flight and
// a small share of line bytes per batch exercise every hand-over between
// reading, computing and writing.
//
// Input: byte 0 the parallel options (bits 0-2 records per batch less one,
// bit 3 batches in flight less one, bits 4-6 the bytes of lines in flight),
// then the layout of decodeRun (fuzz_support.h).
#include <cstring>

#include "fuzz_support.h"

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
  vadoset::RunConfig::Parallel parallel;
  parallel.threads = 2;
  parallel.batchRecords = 1 + (options & 7);
  parallel.batchesInFlight = 1 + ((options >> 3) & 1);
  parallel.lineBytesInFlight = kLineBytes[(options >> 4) & 7];

  const RunOutcomeSeen one = runOnce(input, vadoset::RunConfig::Parallel{});
  const RunOutcomeSeen two = runOnce(input, parallel);
  check(one.outcome == two.outcome, "the parallel and the one-thread run end differently");
  check(one.messages == two.messages, "the parallel and the one-thread run show different messages");
  check(one.warnings == two.warnings, "the parallel and the one-thread run give different warnings");
  check(one.table == two.table, "the parallel and the one-thread run write different tables");
  check(sameBits(one.carriedW, two.carriedW) && sameBits(one.carriedWs, two.carriedWs),
        "the parallel and the one-thread run carry different soil water");
  return 0;
}
