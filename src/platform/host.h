#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace vadoset {

/// The settings of a run, as the window's controls (or the command line)
/// hold them. Texts are kept as typed; the run converts and checks them.
struct Settings {
  std::string tmeanFile = "allsites_temp.txt";   // tmean_field
  std::string precipFile = "allsites_prec.txt";  // precip_field
  std::string latText = "44.47";                 // lat_field, HCN data only
  std::string fcText = "100";                    // fc_field, millimetres
  std::string outputFile = "output.txt";         // output_field
  int format = 0;                                // Format_popup: 0 tab delimited, 1 HCN
  int beta = 6;                                  // Beta_popup: 0 = "A" ... 7 = "H"
  bool carryover = false;                        // Carryover_box
};

/// Progress of a run, for displays that want more than the counter text.
struct Progress {
  std::int64_t rows = 0;               // rows written so far
  std::uint64_t precipBytesRead = 0;   // of the precipitation file
  std::uint64_t precipBytesTotal = 0;  // its size when opened
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
  virtual std::optional<std::string> selectFolder(std::string_view prompt,
                                                  std::string_view actionButton) = 0;

  /// A modal message box; returns when the user has dismissed it.
  virtual void showMessage(std::string_view text) = 0;

  /// Shows text in the window's counter field.
  virtual void setCounter(std::string_view text) = 0;

  /// Called after each row with the run's progress; the counter text has
  /// already been set. Must be cheap: it runs once per record.
  virtual void progress(const Progress& /*p*/) {}

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
