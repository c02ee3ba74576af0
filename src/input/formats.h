#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/engine.h"

namespace vadoset {

class TextInputStream;

/// The input formats, in the order of the window's format pop-up.
enum class InputFormat : std::uint8_t { Tab = 0, Hcn = 1, Csv = 2 };

/// What a run fixes for reading its records.
struct ReadOptions {
  double latitude = 0.0;           // every record's latitude, for formats without a latitude field
  bool latitudeDefaulted = false;  // that latitude is the default, not given by the user
  double fieldCapacity = 100.0;    // the run's field capacity, whole millimetres
  int fieldCapacityField = 0;      // tab-delimited: field with the record's own field capacity (from 1)
  bool keepPrecipitationFraction = false;
  // Filled from the header lines by formats that read them (CSV): both
  // files take the separator of the precipitation file's header.
  char separator = '\t';
  bool decimalComma = false;
  int fieldCapacityColumn = 0;  // column of the precipitation file's field_capacity (from 1), 0 for none;
                                // it takes the place of fieldCapacityField
};

/// Input checks that belong to one format: what a file of another kind
/// looks like when it is read as this one.
enum class FormatCheck : std::uint8_t {
  LooksLikeCsv,  // record lines with commas or semicolons and no separator of the format
  DecimalComma,  // numbers such as 12,5
  LooksLikeHcn,  // a first line that starts with HCN
};

/// One input format: everything the run, the command line and the window
/// need to know of it. Adding a format means one description and one entry
/// in the table of inputFormats().
struct InputFormatDescription {
  InputFormat format;
  std::string_view cliName;  // --format's value
  std::string_view label;    // the row of the window's format pop-up
  bool usesLatitudeSetting;  // every record takes the run's latitude
  bool recordsSpanLines;     // a record may hold line breaks (nextRecord joins its lines with '\n')

  /// The header check, or nullptr when any header line is taken. When a
  /// header is refused the run shows the message for its file.
  bool (*headerOk)(std::string_view line);
  std::string_view precipHeaderMessage;
  std::string_view tmeanHeaderMessage;
  std::string_view headerRefused;  // what is wrong with a refused header line, for the line after its message

  /// Reads what the header lines tell (CSV: separator, columns), or nullptr.
  void (*readHeaders)(std::string_view precipHeader, std::string_view tmeanHeader, ReadOptions& options);

  /// Appends the text of the next record of a file to out: one line, or
  /// more (joined with '\n') where a quoted field holds line breaks.
  void (*nextRecord)(TextInputStream& in, std::string& out);

  /// Fills the record from its two lines in the file's own units: months
  /// without a usable number are NaN; precipitation loses its fraction (of
  /// the file's unit) unless the options keep it. `id` points into
  /// precipLine, or into `text` where the identifier is not in the line as
  /// it stands (a quoted CSV identifier with doubled quotes or line breaks
  /// in it); `text` is the caller's storage for that and for any number's
  /// text that needs rewriting, so it must outlive the use of `id`. Keeping
  /// one `text` per record slot keeps its capacity from record to record.
  void (*parse)(std::string_view precipLine, std::string_view tmeanLine, const ReadOptions& options, RecordInput& out,
                std::string& text);

  /// Converts a parsed record to the model's units (HCN: tenths), or nullptr.
  void (*toModelUnits)(RecordInput& record, const ReadOptions& options);

  /// The text of a month's field (1 to 12) and of the latitude field, for
  /// messages about a record.
  std::string_view (*monthField)(std::string_view line, int month, const ReadOptions& options);
  std::string_view (*latitudeField)(std::string_view line, const ReadOptions& options);
  /// The identifier's text as it stands in a line, to compare the files.
  std::string_view (*idField)(std::string_view line, const ReadOptions& options);

  /// Splits a line into its fields as they stand (a plain quoted CSV field
  /// without its quotes), for reading a header's column names and checking
  /// a record's columns; nullptr for a format of fixed columns.
  void (*splitFields)(std::string_view line, const ReadOptions& options, std::vector<std::string_view>& out);
  /// How many fields splitFields gives a line, counted without splitting
  /// it; nullptr where only splitting tells (quoted fields).
  std::size_t (*fieldCount)(std::string_view line, const ReadOptions& options);
  /// The input checks of this format's own (see FormatCheck).
  std::span<const FormatCheck> ownChecks;
};

/// Every input format, in the order of the window's pop-up.
std::span<const InputFormatDescription> inputFormats();

/// The description of a format.
const InputFormatDescription& formatDescription(InputFormat format);

/// The format whose cliName is `name`, or nullptr.
const InputFormatDescription* findFormat(std::string_view name);

/// Parses the two lines and converts them to the model's units; `text` as
/// for parse.
inline void readRecord(const InputFormatDescription& format, std::string_view precipLine, std::string_view tmeanLine,
                       const ReadOptions& options, RecordInput& out, std::string& text) {
  format.parse(precipLine, tmeanLine, options, out, text);
  if (format.toModelUnits != nullptr) format.toModelUnits(out, options);
}

/// The descriptions of each format, for the table.
extern const InputFormatDescription kTabFormat;
extern const InputFormatDescription kHcnFormat;
/// Comma-separated values (RFC 4180): the columns of the tab-delimited
/// format; quoted fields may hold separators, doubled quotes and line
/// breaks. A header with semicolons and no comma makes semicolons the
/// separator and lets numbers have a decimal comma. A column of the
/// precipitation file's header named field_capacity gives each record its
/// own field capacity. Tabs and line breaks in an identifier become spaces.
extern const InputFormatDescription kCsvFormat;

namespace detail {
/// A month's precipitation or temperature from its field: NaN when it holds
/// no number, holds -9999 in any spelling, or (precipitation) does not fit
/// a 32-bit integer once its fraction is dropped; 9999, the file's own
/// missing marker, is missing too.
double precipitationValue(std::string_view field, bool keepFraction);
double temperatureValue(std::string_view field);
/// A field capacity from its field: whole millimetres and at least one,
/// else NaN.
double fieldCapacityValue(std::string_view field);
/// Appends the next line of the stream as one record.
void nextLine(TextInputStream& in, std::string& out);
}  // namespace detail

}  // namespace vadoset
