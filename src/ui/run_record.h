#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "input/formats.h"
#include "input/record_file.h"
#include "model/engine.h"
#include "run/driver.h"
#include "run/run_report.h"
#include "state/host.h"

namespace vadoset {

struct RunState;

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

/// A Host that passes every call on to another one and records what the
/// run's RunRecord needs on the way: the folders chosen (the data folder
/// first, then the output folder) and every null row.
class RecordingHost final : public Host {
 public:
  /// `state` is the run state of the run about to start: the soil water it
  /// carries now is where the run starts.
  RecordingHost(Host& inner, const RunState& state);

  Settings settings() override { return inner_.settings(); }
  std::optional<std::string> selectFolder(std::string_view prompt, std::string_view actionButton) override;
  void showMessage(std::string_view text) override { inner_.showMessage(text); }
  void setCounter(std::string_view text) override { inner_.setCounter(text); }
  void progress(const Progress& p) override { inner_.progress(p); }
  void nullRow(const NullRow& row) override;
  void warning(std::string_view text) override { inner_.warning(text); }
  void backgroundTask() override { inner_.backgroundTask(); }
  bool stopRequested() override { return inner_.stopRequested(); }
  std::ostream* standardOutput() override { return inner_.standardOutput(); }

  /// The record of the run that has ended with `outcome`, when its table is
  /// in place (the run completed or was stopped); nullptr otherwise.
  std::shared_ptr<RunRecord> finish(const RunState& s, RunOutcome outcome);

 private:
  Host& inner_;
  CarriedState start_;
  std::vector<std::string> folders_;
  NullReasons reasons_;
};

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
