#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "state/host.h"
#include "state/run_state.h"

namespace vadoset::bench {

/// One record as the reader leaves it, before any computation.
struct BenchRecord {
  MonthArray<double> tmean{};
  MonthArray<std::int32_t> ppt{};
  double latitude = 0.0;
};

/// Every record of an input pair, read up front, and a run state that holds
/// the run's settings (field capacity, days per month, format, function).
struct LoadedInput {
  RunState proto;
  std::vector<BenchRecord> records;
};

/// Reads both files named in settings the way a run does. On failure, the
/// run's own messages are joined in error.
std::optional<LoadedInput> loadRecords(const Settings& settings, std::string& error);

/// Puts a record into a run state for computing.
void loadInto(RunState& s, const BenchRecord& r);

}  // namespace vadoset::bench
