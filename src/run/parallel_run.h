#pragma once

#include <cstddef>

#include "run/driver.h"

namespace vadoset {

struct RunState;
class Host;

/// How a parallel run divides its work. The defaults suit runs of any size;
/// tests make them small to exercise the hand-over between batches.
struct ParallelOptions {
  int threads = 2;                  // computing threads; 1 runs Main_loop
  std::size_t batchRecords = 1024;  // records read, computed and written together
  std::size_t batchesInFlight = 4;  // batches being read, computed or written at once
  // Bytes of input lines held by all batches together; a batch closes early
  // when its share is full, so long lines cannot make memory grow.
  std::size_t lineBytesInFlight = std::size_t{16} << 20;
};

/// The same run as Main_loop, with the records computed on several threads.
/// The table, the messages, the outcome and the carried soil water left in
/// the run state are the same as Main_loop's for any number of threads.
///
/// Without carry-over the records are independent: each batch of records is
/// read on the calling thread, parsed, computed and formatted on the
/// computing threads, and written in order on the calling thread. With
/// carry-over each record starts from the one before it, so the soil water is
/// computed for one record after another on one thread at a time, while the
/// other threads parse and compute the PET of the next batch and format the
/// rows of the previous one.
///
/// The host is only called from the calling thread: setCounter, progress and
/// backgroundTask once per row written, stopRequested before each row and
/// while waiting. The background task is not called once per pass of the
/// year, as Main_loop does; a front end that needs that uses Main_loop.
/// Memory stays bounded by batchRecords * batchesInFlight records and by
/// lineBytesInFlight bytes of lines (plus one record per batch).
RunOutcome runParallel(RunState& s, Host& host, const ParallelOptions& options);

}  // namespace vadoset
