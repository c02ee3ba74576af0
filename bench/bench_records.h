#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "model/engine.h"
#include "run/settings.h"

namespace vadoset::bench {

/// Every record of an input pair, read up front and parsed into the
/// engine's units, with the parameters the run would compute them with.
struct LoadedInput {
  ModelParams model;
  std::deque<std::string> lines;  // the identifiers point into these
  std::deque<std::string> texts;  // or into these
  std::vector<RecordInput> records;
};

/// Reads both files named in settings the way a run does. On failure, the
/// run's own messages are joined in error.
std::optional<LoadedInput> loadRecords(const Settings& settings, std::string& error);

}  // namespace vadoset::bench
