#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "run/row_loop.h"

namespace vadoset {

class RunInputs;

/// Looks at the records of a run as they are written, for the mistakes
/// people make with their own files: the wrong format, files that do not
/// pair up, swapped files, missing-value codes taken as numbers, columns out
/// of place, the wrong units, a latitude without its sign, carry-over across
/// sites. It never changes the table; it only counts what it finds, and
/// gives one warning a kind, with how many and the first place it was seen,
/// the likely cause and what to do. Each kind of check is one row of a table
/// in input_checks.cpp.
class InputChecks {
 public:
  /// Files are named in warnings by their names as the plan gives them.
  explicit InputChecks(const RunPlan& plan);

  /// The header lines, when the run starts.
  void headers(std::string_view precipHeader, std::string_view tmeanHeader);
  /// The tests of a record that need no other record: on any thread, once
  /// the record is computed; they go into r.hits. `fields` is the calling
  /// thread's room for the lines' fields.
  void examine(const RecordBatch& b, RecordSlot& r, LineFields& fields) const;
  /// Every record, in order, after examine: counts what it found, runs the
  /// tests that need the records before it, and keeps the first place of
  /// each kind.
  void record(const RecordBatch& b, const RecordSlot& r);
  /// After the last record: what the ends of the files tell.
  void end(RunInputs& inputs, bool stopped);

  /// The warnings, one a kind, in the order the kinds were first seen.
  std::vector<std::string> warnings() const;

  /// What a check has found so far.
  struct Finding {
    std::string first;            // where it was first seen, and the value
    std::int64_t count = 0;       // how many lines, records or values
    std::int64_t considered = 0;  // how many it looked at (for checks of the bulk of a file)
  };
  /// What the checks know of the run besides the lines.
  struct Context;

 private:
  void run(int stage, const void* subject);
  void countConsidered();

  const RunPlan& plan_;
  std::string precipName_, tmeanName_;
  std::vector<int> active_;                       // rows of the table that apply to this run
  std::vector<std::pair<int, int>> recordTests_;  // their tests of each record: (row, file), 0 the precipitation file
  std::vector<Finding> found_;
  std::vector<int> order_;  // rows in the order they first found something
  // Records in a row in which no test found anything and the same tests
  // considered the record: counted into found_ at the end of the row.
  std::uint64_t quietTests_ = 0;
  std::int64_t quietRecords_ = 0;
  std::int64_t records_ = 0;
  std::int64_t nulls_ = 0;
  // The record before the one in hand, for the carry-over checks.
  double previousLatitude_;
  std::string previousId_;
  bool hasPrevious_ = false;
  std::vector<std::string_view> fields_;  // scratch for splitting a header line
  LineFields lineFields_;                 // and a record's lines
};

}  // namespace vadoset
