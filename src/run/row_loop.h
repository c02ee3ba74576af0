#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "input/formats.h"
#include "model/engine.h"
#include "output/columns.h"
#include "platform/text_stream.h"
#include "run/run.h"

// The inside of a run: its inputs and outputs, the batches of records on
// their way from lines to rows, and the one row loop that every run goes
// through, whoever computes its records. Not for front ends: they use run.h.

namespace vadoset {

/// The files a run writes: the table, and the null report when asked for.
/// Nothing appears at their paths until commit.
struct RunOutputs {
  std::unique_ptr<TextOutputStream> table;
  std::unique_ptr<TextOutputStream> report;
  void abandon();
};

class InputChecks;

/// What one test of the input checks found in a record: how many (lines,
/// records or values), a detail for the place of the first (a month, a
/// field), and whether the record counts for the checks of the bulk of a
/// file.
struct CheckHit {
  std::int64_t count = 0;
  std::int32_t detail = 0;
  bool considered = false;
};

/// Room for the fields of a record's two lines.
struct LineFields {
  std::vector<std::string_view> precip, tmean;
};

/// One record on its way from its two lines to its row.
struct RecordSlot {
  std::size_t precipOffset = 0, precipLength = 0;  // its lines in the batch's arenas
  std::size_t tmeanOffset = 0, tmeanLength = 0;
  std::uint64_t bytesRead = 0;  // of the precipitation file, after this record
  std::uint64_t line = 0;       // its line in the precipitation file (from 1)
  RecordInput input;
  std::string text;  // what input.id may point into besides the arena
  RecordResult result;
  CarriedState carriedAfter;   // the state handed on by this record
  CarriedState guessStart;     // carry-over: where its guessed year starts (RecordEngine::guessYears)
  std::size_t rowEnd = 0;      // where its row ends in its chunk's rows
  std::vector<CheckHit> hits;  // what the input checks found in it (InputChecks::examine)
  // The hits in short, for the common record in which no test found
  // anything (at most 64 tests): bit i for hits[i], the tests that
  // considered the record and those left to the record's turn; and whether
  // any other test found something.
  std::uint64_t consideredTests = 0, deferredTests = 0;
  bool anyHit = true;
};

/// Records handed to a computing thread at a time, and formatted together:
/// enough for the engine's vector lanes, few enough to spread a batch over
/// the threads when some records spin up for hundreds of passes (the soil
/// water of a carried run is one chain, so there the chunks only parse and
/// format). A chunk's rows lie side by side in one text, so that they are
/// written with one call and no copy; a task is one chunk, so no two
/// threads write the same text.
constexpr std::size_t kChunkRecords = 64;

/// The rows of a chunk of records, one after another: identifier, tab,
/// values and line end each. Grows without filling what it adds.
struct RowText {
  std::unique_ptr<char[]> data;
  std::size_t size = 0, capacity = 0;
  /// Room for n more bytes at data + size.
  char* room(std::size_t n) {
    if (size + n > capacity) grow(size + n);
    return data.get() + size;
  }
  void grow(std::size_t need);
  std::string_view text(std::size_t end) const { return {data.get(), end}; }
};

/// Records read, computed and written together.
struct RecordBatch {
  // The input lines, one arena a file: a long pair of lines grows two
  // buffers side by side rather than one twice over.
  std::string precipArena, tmeanArena;
  std::vector<RecordSlot> slots;
  std::size_t count = 0;
  std::vector<RowText> rows;  // a chunk's rows each (records i / kChunkRecords)

  std::string_view precipLine(const RecordSlot& r) const {
    return {precipArena.data() + r.precipOffset, r.precipLength};
  }
  std::string_view tmeanLine(const RecordSlot& r) const { return {tmeanArena.data() + r.tmeanOffset, r.tmeanLength}; }
  std::size_t lineBytes() const { return precipArena.size() + tmeanArena.size(); }
};

/// What every record of a run shares: its format, options, engine
/// parameters and table layout.
struct RunPlan {
  std::string precipName, tmeanName;  // the input files as the user gave them
  const InputFormatDescription* format = nullptr;
  ReadOptions read;
  ModelParams model;
  TableLayout table;
};

/// The plan of a run whose inputs are open (formats may read their headers).
RunPlan planFor(const RunConfig& config, const RunInputs& inputs);

/// Room for records side by side, as the engine's batch form takes them,
/// and for a line's fields.
struct BatchScratch {
  std::vector<RecordInput> inputs;
  std::vector<RecordResult> results;
  std::vector<CarriedState> carried;
  std::vector<CarriedState> guessed;  // carry-over: the guessed years' starts
  LineFields fields;
};

/// Parses records [begin, end) of the batch into their inputs, and copies
/// those side by side into the scratch, whose arrays grow to hold them, as
/// the engine's batch form takes them.
void parseSlots(const RunPlan& plan, RecordBatch& b, std::size_t begin, std::size_t end, BatchScratch& scratch);
/// Formats record i's row after those of the records before it in its
/// chunk (the first of a chunk starts it afresh) and has the input checks
/// look at it.
void formatSlot(const RunPlan& plan, const InputChecks& checks, RecordBatch& b, std::size_t i, BatchScratch& scratch);

/// Parses records [begin, end) of the batch, computes them with the
/// engine's batch form (from `carried`, which they leave as the last one
/// leaves it), formats their rows and has the input checks look at them.
void computeSlots(const RunPlan& plan, const InputChecks& checks, RecordEngine& engine, RecordBatch& b,
                  std::size_t begin, std::size_t end, CarriedState& carried, BatchScratch& scratch);

/// Who computes the records of a batch: the calling thread, or a pool.
class BatchComputer {
 public:
  virtual ~BatchComputer() = default;
  /// Batches read ahead at most, and records in a batch.
  virtual std::size_t batchesInFlight() const = 0;
  virtual std::size_t batchRecords() const = 0;
  /// Most bytes of input lines a batch holds (it holds one record at least).
  virtual std::size_t batchLineBytes() const = 0;
  /// Called once the plan is known, before the first batch. The checks look
  /// at every record on the thread that formats its row.
  virtual void begin(const RunPlan& plan, const InputChecks& checks, CarriedState carried) = 0;
  /// Starts parsing, computing and formatting a batch whose lines are read.
  virtual void submit(RecordBatch& b) = 0;
  /// Waits for a batch's rows. False when the observer asked to stop
  /// meanwhile. Rethrows a failure of the computation.
  virtual bool wait(RecordBatch& b, RunObserver& observer) = 0;
  /// Stops all work; called before the run ends, however it ends.
  virtual void end() = 0;
};

/// Writes a null row's line of the null report: line, identifier, code and
/// reason, tab-separated, with the text of the input escaped so that no field
/// holds a tab or a line break.
void writeNullReportLine(TextOutputStream& out, const NullRow& n);

/// The computing threads of a parallel run, or nullptr when none can be
/// started (the calling thread then computes).
std::unique_ptr<BatchComputer> makeThreadedComputer(const RunConfig::Parallel& options);
/// The calling thread computes, a few dozen records at a time.
std::unique_ptr<BatchComputer> makeSerialComputer();

/// The one row loop of every run: reads the records in batches, has them
/// computed, writes their rows (and null-report lines) in order, and reports
/// each row to the observer. Fills the result's rows, null rows and carried
/// state; gives whether the observer stopped the run, and how.
StopRequest Main_loop(RunInputs& inputs, RunOutputs& outputs, const RunPlan& plan, BatchComputer& computer,
                      RunObserver& observer, RunResult& result);

}  // namespace vadoset
