#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "state/settings.h"

namespace vadoset {

/// Progress of a run, for displays that want more than the counter text.
struct Progress {
  std::int64_t rows = 0;               // rows written so far
  std::uint64_t precipBytesRead = 0;   // of the precipitation file
  std::uint64_t precipBytesTotal = 0;  // its size when opened
};

/// A null row as it is written, with why it is null. Nothing is built for
/// it unless asked: reasonText() allocates, the rest points into the run.
struct NullRow {
  std::int64_t row = 0;         // from 1
  std::uint64_t line = 0;       // the record's line in the precipitation file
  std::string_view id;          // the identifier
  std::string_view reasonCode;  // a stable name: "precipitation_missing"
  int reason = 0;               // the run's own number for the reason
  int month = 0;                // the missing month (1 to 12), when the reason names one
  std::string_view field;       // the text that made the record unusable, if any
  bool showField = false;       // the field is worth quoting
  int lineFields = -1;          // when the line ends before the field: its number of fields
  int fieldsNeeded = 0;         // and how many the record needs
  std::string (*describe)(const NullRow&) = nullptr;

  /// In words: "month 2 of the precipitation file is missing ('NA')".
  std::string reasonText() const { return describe != nullptr ? describe(*this) : std::string(reasonCode); }
};

/// Everything a run needs from its front end: settings, dialogs, messages,
/// the progress counter, yielding and stopping. The window and the command
/// line tool each implement it.
class Host {
 public:
  virtual ~Host() = default;

  /// Read once, when a run starts. During a run the settings cannot change.
  virtual Settings settings() = 0;

  /// A modal folder chooser; the folder's path, or nothing when cancelled.
  /// An empty path means file names are used as they stand.
  virtual std::optional<std::string> selectFolder(std::string_view prompt, std::string_view actionButton) = 0;

  /// A modal message box; returns when the user has dismissed it.
  virtual void showMessage(std::string_view text) = 0;

  /// Shows text in the window's counter field.
  virtual void setCounter(std::string_view text) = 0;

  /// Called after each row with the run's progress; the counter text has
  /// already been set. Must be cheap: it runs once per record.
  virtual void progress(const Progress& /*p*/) {}

  /// An input check found something worth a look; the run goes on. Each
  /// kind of warning comes once, with how often it was seen.
  virtual void warning(std::string_view /*text*/) {}

  /// Called for each null row once it is written.
  virtual void nullRow(const NullRow& /*row*/) {}

  /// Lets the front end breathe: called once per pass of the year and once
  /// per record, never inside the day loop.
  virtual void backgroundTask() {}

  /// True when the user asked the run to stop. Checked between records.
  virtual bool stopRequested() { return false; }

  /// After a stop: true puts the complete rows in place (Stop, Ctrl+C);
  /// false drops the table and keeps any earlier file at its path.
  virtual bool keepRowsWhenStopped() { return true; }

  /// Where the table goes when the output name is "-", or nullptr when the
  /// front end has no standard output (the window).
  virtual std::ostream* standardOutput() { return nullptr; }
};

}  // namespace vadoset
