#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "run/run.h"

namespace vadoset {

/// What a run did, gathered from the observer's calls as it goes: the null
/// rows counted by reason with the first of each, and the warnings. Both
/// front ends keep one and show its summary when the run ends.
class RunReport {
 public:
  struct NullCount {
    std::string code;
    std::int64_t count = 0;
    std::uint64_t firstLine = 0;
    std::int64_t firstRow = 0;  // of the table, from 1
    std::string firstId;
    std::string firstText;
  };

  /// Clears everything, for a new run.
  void start();
  void warning(std::string_view text) { warnings_.emplace_back(text); }
  void nullRow(const NullRow& row);
  void progress(std::int64_t rows) { rows_ = rows; }

  std::int64_t rows() const { return rows_; }
  std::int64_t nullRows() const { return nullRows_; }
  const std::vector<NullCount>& nulls() const { return nulls_; }
  const std::vector<std::string>& warnings() const { return warnings_; }

  /// "23 rows written to out.txt (0.07 s, 343 records/s)" with the run's own
  /// time, or "stopped after 5 rows; they are in out.txt". Empty for a run
  /// that failed or left no table.
  std::string outcomeText(const RunResult& result, std::string_view where) const;
  /// "2 null rows: 1 perennial snow, 1 month missing"; empty without any.
  std::string nullsText() const;

 private:
  std::int64_t rows_ = 0;
  std::int64_t nullRows_ = 0;
  std::vector<NullCount> nulls_;
  std::vector<std::string> warnings_;
};

}  // namespace vadoset
