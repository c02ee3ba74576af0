#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "input/formats.h"
#include "input/record_file.h"
#include "model/engine.h"
#include "run/run.h"
#include "run/run_report.h"

namespace vadoset {

/// The reasons of a table's null rows, by row.
class NullReasons {
 public:
  /// Rows come in ascending order, as a run writes them.
  void add(std::int64_t row, std::string text);
  /// The reason of row `row` (from 1), or nullptr when none was recorded.
  const std::string* find(std::int64_t row) const;
  std::size_t size() const { return rows_.size(); }
  const std::vector<std::string>& texts() const { return texts_; }

 private:
  std::vector<std::int64_t> rows_;
  std::vector<std::string> texts_;
};

/// What the results window keeps of a finished run: its table, the reasons
/// of its null rows, and what it takes to compute its records again (the
/// input files, how they were read, the model's parameters and the soil water
/// the run started from).
struct RunRecord {
  // Absolute paths, in the file system's encoding.
  std::string tablePath;
  std::string precipPath;
  std::string tmeanPath;
  const InputFormatDescription* format = nullptr;
  ReadOptions read;
  ModelParams model;
  CarriedState start;
  NullReasons nullRows;
  bool stopped = false;  // Stop ended the run: the table holds its first rows only
  RunReport report;      // its warnings and null rows, as the status line told them
};

/// The record of a run about to start on `inputs` (from Open_files) with
/// `config`: the null rows are added as the run writes them.
std::shared_ptr<RunRecord> makeRunRecord(const RunConfig& config, const RunInputs& inputs);

/// A run's records computed again from its input files, for the charts.
///
/// Record k is read again by the format's own record reader (RecordReader).
/// Without carry-over each record is computed alone. With carry-over a
/// record starts from the soil water and snow the one before it left, so the
/// records are computed in order from the run's first; the carried state is
/// kept every kCheckpointEvery records, so that the first look at record k
/// computes the records up to it once (prepare, in steps) and any later look
/// at most kCheckpointEvery of them.
class RecordSource {
 public:
  static constexpr std::size_t kCheckpointEvery = 1024;

  /// With carry-over: computes on towards record k, at most about `budget`
  /// records, keeping the carried state every kCheckpointEvery records. True
  /// once compute(k) has at most kCheckpointEvery records left to compute
  /// (always true without carry-over).
  bool prepare(std::size_t k, std::size_t budget);
  /// Records computed in order from the run's first so far.
  std::size_t prepared() const { return (checkpoints_.size() - 1) * kCheckpointEvery; }

  /// Opens both input files of the run. Gives an empty string, or what went
  /// wrong (the files are gone or cannot be read).
  std::string open(std::shared_ptr<const RunRecord> run);

  /// Record k (from 0) as the run computed it.
  struct Computed {
    std::string id;
    RecordInput input;  // input.id is left empty: the identifier is `id`
    RecordResult result;
    DayTrace trace;            // the daily values of its last pass
    std::size_t computed = 0;  // records computed to get it
  };
  /// Gives an empty string, or what went wrong.
  std::string compute(std::size_t k, Computed& out);

 private:
  std::shared_ptr<const RunRecord> run_;
  RecordReader reader_;
  bool readFailed_ = false;
  RecordEngine engine_;
  std::vector<CarriedState> checkpoints_;  // before record j * kCheckpointEvery
  RecordResult scratch_;
};

}  // namespace vadoset
