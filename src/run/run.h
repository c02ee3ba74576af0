#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "input/formats.h"
#include "model/engine.h"
#include "output/columns.h"
#include "platform/text_stream.h"
#include "run/settings.h"

namespace vadoset {

/// A run as values: a configuration in, a result out, and an observer that
/// hears what happens on the way. Every front end (the command line tool,
/// the window, the fuzzers and benchmarks) runs through runTable; none
/// re-implements a step, and the core shows no message and opens no dialog.

/// What one run reads, computes and writes. Build it with makeRunConfig.
struct RunConfig {
  // The input files, and their names as the user gave them.
  std::filesystem::path precipPath, tmeanPath;
  std::string precipName, tmeanName;
  const InputFormatDescription* format = &kTabFormat;
  // How records are read. fieldCapacity is NaN when the setting is no
  // positive number of millimetres; latitude (formats that take every
  // record's latitude from the settings) NaN when it is no number from -90
  // to 90. Open_files reports both.
  ReadOptions read;
  ModelParams model;
  std::vector<ColumnGroup> columns{ColumnGroup::Classic};
  LineEnding lineEnding = LineEnding::Cr;
  // The table, and the null report (empty path: none); "-" is standard output.
  std::filesystem::path outputPath;
  std::string outputName;
  std::filesystem::path nullReportPath;
  std::string nullReportName;
  /// Where "-" writes; nullptr where there is no standard output (the window).
  std::ostream* standardOutput = nullptr;
  /// Its file descriptor, when it has one: standard output that is one of
  /// the inputs (`>> prec.txt`) is refused.
  int standardOutputFd = -1;
  bool strict = false;  // any input warning fails the run, and no table is put in place
  /// How the records are divided among threads; the table is the same for
  /// every choice.
  struct Parallel {
    int threads = 1;                  // computing threads; 1 computes on the calling thread
    std::size_t batchRecords = 256;   // records read, computed and written together
    std::size_t batchesInFlight = 4;  // batches being read, computed or written at once
    // Bytes of input lines held by all batches together; a batch closes
    // early when its share is full, so long lines cannot make memory grow.
    std::size_t lineBytesInFlight = std::size_t{8} << 20;
  } parallel;
  /// The soil water and snow that earlier runs carried over (carry-over runs
  /// start from it; the window keeps it from run to run).
  CarriedState start;
};

/// The configuration of a run of `settings`, with the input files in
/// `dataFolder` and the table in `outputFolder` (empty folders: the names as
/// they stand). Converts the settings' texts; nothing is opened.
RunConfig makeRunConfig(const Settings& settings, std::string_view dataFolder, std::string_view outputFolder);

/// Why a run could not start or could not finish. message() is the text the
/// front ends show.
struct RunProblem {
  enum class Kind : std::uint8_t {
    InputMissing,          // "The file NAME doesn't exist."
    InputUnreadable,       // "The file NAME could not be read: CAUSE."
    FieldCapacity,         // the field capacity setting is no positive number
    Latitude,              // the latitude setting is no number from -90 to 90
    Header,                // a header line the format refuses (its own message)
    OutputUnwritable,      // "The output file NAME could not be written: CAUSE."
    NullReportUnwritable,  // "The null report NAME could not be written: CAUSE."
    InputReadFailed,       // an input met a read error during the run
    InputChanged,          // an input changed while it was read
    StrictWarnings,        // the input checks warned and checking is strict
    Failed,                // anything else that ended the run (what happened in detail)
  };
  Kind kind = Kind::Failed;
  std::string path;    // the file concerned, as the user gave it; empty for none
  int error = 0;       // an errno value or kNotRegularFile, when that is the cause
  std::string cause;   // the cause in words, when no error number gives it
  std::string detail;  // what the message needs beyond the above (a count, a text)

  /// How files are named: by their own name, as the window's messages name
  /// them, or as the user gave them (folder included, "-" as standard
  /// output), as the command line's do.
  enum class Names : std::uint8_t { OwnName, AsGiven };
  std::string message(Names names = Names::OwnName) const;
  /// For a header line the format refuses: the line after message() that
  /// names the file, what is wrong with its first line and the fix, given
  /// the other formats as the front end names them ("--format tab or csv").
  std::string headerHint(std::string_view otherFormats, Names names = Names::OwnName) const;
};

/// Progress of a run. After Open_files, once with rows 0; then after each row.
struct Progress {
  std::int64_t rows = 0;               // rows written so far
  std::uint64_t precipBytesRead = 0;   // of the precipitation file
  std::uint64_t precipBytesTotal = 0;  // its size when opened
};

/// A null row as it is written, with why it is null. Nothing is built for
/// it unless asked: reasonText() allocates, the rest points into the run.
struct NullRow {
  std::int64_t row = 0;    // from 1
  std::uint64_t line = 0;  // the record's line in the precipitation file
  std::string_view id;     // the identifier
  NullReason reason = NullReason::None;
  int month = 0;           // the missing month (1 to 12), when the reason names one
  std::string_view field;  // the text that made the record unusable, if any
  bool showField = false;  // the field is worth quoting
  int lineFields = -1;     // when the line ends before the field: its number of fields
  int fieldsNeeded = 0;    // and how many the record needs
  bool inColumns = false;  // counted in characters (a format of fixed columns)

  std::string_view reasonCode() const { return nullReasonCode(reason); }
  /// In words: "month 2 of the precipitation file is missing ('NA')".
  std::string reasonText() const;
};

/// What a stopped run leaves.
enum class StopRequest : std::uint8_t {
  None,
  KeepRows,   // the complete rows are put in place (Stop, Ctrl+C)
  DropTable,  // no new table: an earlier file at the output path stays (SIGTERM)
};

/// What a front end hears during a run, on the thread that called runTable.
/// Every call must be cheap: progress and stopRequested come once a record.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  virtual void progress(const Progress& /*p*/) {}
  /// An input check found something worth a look; each kind comes once,
  /// with how often it was seen and where first, at the end of the run.
  virtual void warning(std::string_view /*text*/) {}
  virtual void nullRow(const NullRow& /*row*/) {}
  /// Asked before each record.
  virtual StopRequest stopRequested() { return StopRequest::None; }
};

enum class RunOutcome : std::uint8_t {
  Completed,     // every record written and the table in place
  Stopped,       // stopped on request: the complete rows are in place, or no table (DropTable)
  NotStarted,    // the inputs or the settings were refused
  OutputFailed,  // the table could not be written, or the run failed: nothing left behind
};

/// How a run ended.
struct RunResult {
  RunOutcome outcome = RunOutcome::NotStarted;
  std::int64_t rows = 0;      // rows written (null rows included)
  std::int64_t nullRows = 0;  // of them
  bool tableWritten = false;  // a new table is in place at the output path
  /// The carried soil water and snow as the run left them: what the next
  /// run of a window starts from.
  CarriedState carried;
  /// From the first record read to the table put in place, seconds.
  double seconds = 0.0;
  /// The input checks' warnings, as the observer heard them.
  std::vector<std::string> warnings;
  /// Why the run did not complete; empty when it did or was stopped.
  std::vector<RunProblem> problems;
};

/// A run's two input files, opened with their header lines read.
class RunInputs {
 public:
  std::unique_ptr<TextInputStream> precip;
  std::unique_ptr<TextInputStream> tmean;
  std::string precipHeader;
  std::string tmeanHeader;

  /// The problem of an input that met a read error, which ends it early as
  /// if the file ended there, or that changed while it was read; nothing
  /// when both were read whole and unchanged.
  std::optional<RunProblem> readProblem(const RunConfig& config);
  void close();
};

/// The result of Open_files: the inputs, or why there are none.
struct OpenedInputs {
  std::unique_ptr<RunInputs> inputs;  // nullptr when any problem was found
  std::vector<RunProblem> problems;
  OpenedInputs();
  OpenedInputs(OpenedInputs&&) noexcept;
  OpenedInputs& operator=(OpenedInputs&&) noexcept;
  ~OpenedInputs();
};

/// The first step of a run: opens both input files, takes the field
/// capacity and (for formats without a latitude field) the latitude, and
/// reads both header lines, checking them where the format does. Problems
/// come in that order; with any problem no file stays open. The observer
/// hears progress (rows 0) once both files are open.
OpenedInputs Open_files(const RunConfig& config, RunObserver& observer);

/// How the records of a run are read, once its inputs are open (a format
/// may take its columns from the header lines).
ReadOptions recordReadOptions(const RunConfig& config, const RunInputs& inputs);

/// The rest of the run, on inputs from Open_files: creates the table (and
/// the null report), reads, computes and writes every record, and puts the
/// files in place. A failed or stopped run leaves every earlier file as it
/// was and creates none (a stop that keeps rows puts its rows in place).
RunResult runTable(std::unique_ptr<RunInputs> inputs, const RunConfig& config, RunObserver& observer);

/// Both steps.
RunResult runTable(const RunConfig& config, RunObserver& observer);

}  // namespace vadoset
