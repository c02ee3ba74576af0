#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "input/formats.h"
#include "model/engine.h"
#include "output/columns.h"
#include "run/driver.h"

namespace vadoset {

struct RunState;
class Host;

/// One record on its way from its two lines to its row.
struct RecordSlot {
  std::size_t precipOffset = 0, precipLength = 0;  // its lines in the batch's arenas
  std::size_t tmeanOffset = 0, tmeanLength = 0;
  std::uint64_t bytesRead = 0;  // of the precipitation file, after this record
  std::uint64_t line = 0;       // its line in the precipitation file (from 1)
  RecordInput input;
  std::string text;  // what input.id may point into besides the arena
  RecordResult result;
  CarriedState carriedAfter;  // the state handed on by this record
  std::size_t rowLength = 0;  // its row's text at row(i) of the batch
};

/// Records read, computed and written together.
struct RecordBatch {
  // The input lines, one arena a file: a long pair of lines grows two
  // buffers side by side rather than one twice over.
  std::string precipArena, tmeanArena;
  std::vector<RecordSlot> slots;
  std::size_t count = 0;
  std::vector<char> rows;  // rowBytes per record
  std::size_t rowBytes = 0;

  std::string_view precipLine(const RecordSlot& r) const {
    return {precipArena.data() + r.precipOffset, r.precipLength};
  }
  std::string_view tmeanLine(const RecordSlot& r) const { return {tmeanArena.data() + r.tmeanOffset, r.tmeanLength}; }
  std::size_t lineBytes() const { return precipArena.size() + tmeanArena.size(); }
  char* row(std::size_t i) { return rows.data() + i * rowBytes; }
};

/// What every record of a run shares: its format, options, engine
/// parameters and table layout.
struct RunPlan {
  const InputFormatDescription* format = nullptr;
  ReadOptions read;
  ModelParams model;
  TableLayout table;
};

/// The plan of a run that openRun has opened.
RunPlan planFor(const RunState& s);

/// Parses record i of the batch into its input (nothing else).
void parseSlot(const RunPlan& plan, RecordBatch& b, std::size_t i);
/// Formats record i's row.
void formatSlot(const RunPlan& plan, RecordBatch& b, std::size_t i);

/// Room for records side by side, as the engine's batch form takes them.
struct BatchScratch {
  std::vector<RecordInput> inputs;
  std::vector<RecordResult> results;
  std::vector<CarriedState> carried;
};

/// Parses records [begin, end) of the batch, computes them with the
/// engine's batch form (from `carried`, which they leave as the last one
/// leaves it) and formats their rows.
void computeSlots(const RunPlan& plan, RecordEngine& engine, RecordBatch& b, std::size_t begin, std::size_t end,
                  CarriedState& carried, BatchScratch& scratch);

/// Who computes the records of a batch: the calling thread, or a pool.
class BatchComputer {
 public:
  virtual ~BatchComputer() = default;
  /// Batches read ahead at most, and records in a batch.
  virtual std::size_t batchesInFlight() const = 0;
  virtual std::size_t batchRecords() const = 0;
  /// Most bytes of input lines a batch holds (it holds one record at least).
  virtual std::size_t batchLineBytes() const = 0;
  /// Called once the plan is known, before the first batch.
  virtual void begin(const RunPlan& plan, CarriedState carried) = 0;
  /// Starts parsing, computing and formatting a batch whose lines are read.
  virtual void submit(RecordBatch& b) = 0;
  /// Waits for a batch's rows. False when the host asked to stop meanwhile.
  /// Rethrows a failure of the computation.
  virtual bool wait(RecordBatch& b, Host& host) = 0;
  /// Stops all work; called before the run ends, however it ends.
  virtual void end() = 0;
};

/// The one row loop of every run: opens the run, reads the records in
/// batches, has them computed, writes their rows in order, reports each row
/// to the host, and closes the run.
RunOutcome runRows(RunState& s, Host& host, BatchComputer& computer);

}  // namespace vadoset
