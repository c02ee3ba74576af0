#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vadoset {

struct RunState;
class Host;

/// How a run ended.
enum class RunOutcome {
  Completed,        // every record written and the table in place
  Stopped,          // the host asked to stop; the complete rows are in place
  NotStarted,       // the input files, settings or data folder were refused or cancelled
  OutputFailed,     // the table could not be created or written, or an input could
                    // not be read to its end; nothing left behind
  OutputCancelled,  // the output folder dialog was cancelled
};

/// One whole run: opens the inputs, creates the table, reads, computes and
/// writes every record, and closes the files. Settings come from the host
/// when the run starts; the run state's carried soil water survives from
/// one run to the next.
RunOutcome Main_loop(RunState& s, Host& host);

/// The opening of every run, whichever engine computes it: settings from the
/// host, Open_files, the days per month, write_out and the carry-over flag.
/// Gives nothing when the records may be read, or the outcome the run
/// ended with.
std::optional<RunOutcome> openRun(RunState& s, Host& host);

/// The end of every run once its rows are written: an input that met a read
/// error ("The file NAME could not be read.") or changed while it was read
/// ("The file NAME changed while it was read."), or a table that cannot be
/// committed, fails the run and leaves nothing behind. A stopped run keeps
/// its complete rows unless the host's keepRowsWhenStopped() says no.
RunOutcome finishRun(RunState& s, Host& host, bool stopped);

/// After row `count` (from 1) is written: the counter shows the count, the
/// host hears the progress, and the background task runs.
void reportRow(Host& host, std::int32_t count, std::uint64_t precipBytesRead, std::uint64_t precipBytesTotal);

/// Days in each month; February always has 28.
void fillDaysPerMonth(RunState& s);

/// Drops a failed run's table and closes its inputs.
void abandonRun(RunState& s);

/// "The output file NAME could not be written." for the run's table, with
/// the cause when the stream knows it.
std::string outputFailedMessage(const RunState& s);

/// Closes both inputs and commits the table. False when the table could not
/// be finished, in which case any earlier file at its path is untouched; an
/// input that met a read error leaves the table unfinished.
bool Close_files(RunState& s);

/// True when either open input met a read error, which ends it early as if
/// the file ended there, or changed while it was read. The run then drops
/// the table and says which.
bool inputReadFailed(const RunState& s);

}  // namespace vadoset
