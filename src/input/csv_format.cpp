#include <algorithm>
#include <cmath>

#include "input/formats.h"
#include "platform/text.h"
#include "platform/text_stream.h"

namespace vadoset {

namespace {

constexpr char kQuote = '"';
constexpr std::size_t npos = std::string_view::npos;

// Whether a quoted field is still open at the end of `line`, given whether
// it was open at its start. A quote opens a field only where the field
// starts: at the start of the record or after a comma or semicolon (the
// separator is not known before the header is read, and the header itself
// may hold quotes).
bool quoteOpenAfter(std::string_view line, bool open, bool atFieldStart) {
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (open) {
      if (c != kQuote) continue;
      if (i + 1 < line.size() && line[i + 1] == kQuote) {
        ++i;  // "" is one quote inside the field
      } else {
        open = false;
        atFieldStart = false;
      }
    } else if (c == kQuote && atFieldStart) {
      open = true;
    } else {
      atFieldStart = c == ',' || c == ';';
    }
  }
  return open;
}

// A record is one line, or more while a quoted field is open; the lines are
// joined with LF. A quote that never closes takes lines up to the length
// cap of one line, so that it cannot swallow the rest of a large file.
void nextCsvRecord(TextInputStream& in, std::string& out) {
  const std::size_t start = out.size();
  const std::uint64_t cutBefore = in.linesCut();
  in.appendLine(out);
  std::string_view first(out.data() + start, out.size() - start);
  if (first.find(kQuote) == std::string_view::npos || !quoteOpenAfter(first, false, true)) return;
  bool open = true;
  while (open && out.size() - start < TextInputStream::kMaxLineBytes && !in.Eof()) {
    out += '\n';
    const std::size_t lineStart = out.size();
    in.appendLine(out);
    // The line break was inside the quoted field, so the next line starts
    // inside it too.
    open = quoteOpenAfter(std::string_view(out.data() + lineStart, out.size() - lineStart), true, false);
  }
  // Cut at the cap with the field still open: the lines after it are read
  // as records of their own, which the run must warn about as it does for
  // a long line.
  if (open && out.size() - start >= TextInputStream::kMaxLineBytes && in.linesCut() == cutBefore) in.countCutRecord();
}

// Splits a record into its fields as they stand, quotes and all.
class CsvFields {
 public:
  CsvFields(std::string_view record, char separator) : rest_(record), sep_(separator) {}

  bool ended() const { return ended_; }

  std::string_view next() {
    if (ended_) return {};
    std::size_t end = npos;
    if (!rest_.empty() && rest_.front() == kQuote) {
      // Up to the closing quote (one not doubled), then to the separator;
      // an unclosed quote runs to the end of the record.
      for (std::size_t i = 1;;) {
        const std::size_t q = rest_.find(kQuote, i);
        if (q == npos) break;
        if (q + 1 < rest_.size() && rest_[q + 1] == kQuote) {
          i = q + 2;
          continue;
        }
        end = rest_.find(sep_, q + 1);
        break;
      }
    } else {
      end = rest_.find(sep_);
    }
    const std::string_view field = rest_.substr(0, end);
    if (end == npos) {
      ended_ = true;
      rest_ = {};
    } else {
      rest_.remove_prefix(end + 1);
    }
    return field;
  }

  /// Field n (from 1) of the record, or empty.
  static std::string_view nth(std::string_view record, char separator, int n) {
    CsvFields f(record, separator);
    std::string_view field;
    for (int i = 1; i <= n; ++i) {
      if (f.ended()) return {};
      field = f.next();
    }
    return field;
  }

 private:
  std::string_view rest_;
  char sep_;
  bool ended_ = false;
};

// The first fields of a record as they stand, quotes and all. A record
// whose fields hold no quote at their start splits at every separator, in
// one pass.
void splitCsv(std::string_view record, char separator, std::span<std::string_view> fields) {
  splitFields(record, separator, fields);
  if (std::none_of(fields.begin(), fields.end(), [](std::string_view f) { return !f.empty() && f.front() == kQuote; }))
    return;
  CsvFields f(record, separator);
  for (std::string_view& field : fields) field = f.next();
}

// The value of a field that needs no unescaping: an unquoted field, or a
// quoted one without doubled quotes and with nothing after its closing
// quote. False otherwise.
bool plainValue(std::string_view field, std::string_view& value) {
  if (field.empty() || field.front() != kQuote) {
    value = field;
    return true;
  }
  const std::size_t q = field.find(kQuote, 1);
  if (q == npos) {
    value = field.substr(1);  // never closed
    return true;
  }
  if (q + 1 != field.size()) return false;
  value = field.substr(1, q - 1);
  return true;
}

// Appends a field's value: the text inside its quotes with "" read as ",
// then whatever follows the closing quote, as spreadsheets read it.
void appendValue(std::string_view field, std::string& out) {
  if (field.empty() || field.front() != kQuote) {
    out.append(field);
    return;
  }
  std::size_t i = 1;
  for (;;) {
    const std::size_t q = field.find(kQuote, i);
    if (q == npos) {
      out.append(field.substr(i));
      return;
    }
    out.append(field.substr(i, q - i));
    if (q + 1 < field.size() && field[q + 1] == kQuote) {
      out += kQuote;
      i = q + 2;
    } else {
      out.append(field.substr(q + 1));
      return;
    }
  }
}

// The text of a field's number: its value, with a decimal comma read as a
// point where the file uses them. May point into buf.
std::string_view numberText(std::string_view field, const ReadOptions& options, std::string& buf) {
  std::string_view value;
  if (!plainValue(field, value)) {
    buf.clear();
    appendValue(field, buf);
    value = buf;
  }
  if (!options.decimalComma || value.find(',') == npos) return value;
  if (value.data() != buf.data()) buf.assign(value);
  for (char& c : buf)
    if (c == ',') c = '.';
  return buf;
}

bool isBreak(char c) {
  return c == '\t' || c == '\r' || c == '\n';
}

// The identifier is the value of field 1. A tab or a line break in it
// would break the table's rows, so each becomes a space.
std::string_view identifier(std::string_view field, std::string& storage) {
  std::string_view value;
  if (plainValue(field, value) && std::find_if(value.begin(), value.end(), isBreak) == value.end()) return value;
  storage.clear();
  appendValue(field, storage);
  std::replace_if(storage.begin(), storage.end(), isBreak, ' ');
  return storage;
}

void parseCsv(std::string_view precipLine, std::string_view tmeanLine, const ReadOptions& options, RecordInput& out,
              std::string& text) {
  // Columns as in the tab-delimited format: the identifier, the latitude,
  // then January to December; the identifier and latitude come from the
  // precipitation file. `text` holds one number's text at a time, and the
  // identifier last of all when it needs unescaping.
  std::string_view p[kMonths + 2], t[kMonths + 2];
  splitCsv(precipLine, options.separator, p);
  splitCsv(tmeanLine, options.separator, t);
  const std::string_view idField = p[0];
  std::optional<double> lat = ParseNumber(numberText(p[1], options, text));
  out.latitude = (lat && *lat >= -90.0 && *lat <= 90.0) ? *lat : NAN;
  for (int m = 0; m < kMonths; ++m) {
    out.ppt[m] = detail::precipitationValue(numberText(p[m + 2], options, text), options.keepPrecipitationFraction);
    out.tmean[m] = detail::temperatureValue(numberText(t[m + 2], options, text));
  }
  out.fieldCapacity = options.fieldCapacity;
  const int fcColumn = options.fieldCapacityColumn > 0 ? options.fieldCapacityColumn : options.fieldCapacityField;
  if (fcColumn > 0) {
    // The record's own field capacity: whole millimetres, at least one. An
    // empty cell, or none where the record ends sooner, makes the record
    // null: never the run's.
    out.fieldCapacity =
        detail::fieldCapacityValue(numberText(CsvFields::nth(precipLine, options.separator, fcColumn), options, text));
  }
  out.id = identifier(idField, text);
}

// The field as the file holds it, for messages: its value when it needs no
// unescaping, else its text with the quotes.
std::string_view shownField(std::string_view field) {
  std::string_view value;
  return plainValue(field, value) ? value : field;
}

std::string_view csvMonthField(std::string_view line, int month, const ReadOptions& options) {
  return shownField(CsvFields::nth(line, options.separator, month + 2));
}

std::string_view csvLatitudeField(std::string_view line, const ReadOptions& options) {
  return shownField(CsvFields::nth(line, options.separator, 2));
}

std::string_view csvIdField(std::string_view line, const ReadOptions& options) {
  return shownField(CsvFields::nth(line, options.separator, 1));
}

void csvFields(std::string_view line, const ReadOptions& options, std::vector<std::string_view>& out) {
  out.clear();
  CsvFields f(line, options.separator);
  while (!f.ended()) out.push_back(shownField(f.next()));
}

bool sameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char x = (a[i] >= 'A' && a[i] <= 'Z') ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    const char y = (b[i] >= 'A' && b[i] <= 'Z') ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
    if (x != y) return false;
  }
  return true;
}

std::string_view trimBlanks(std::string_view t) {
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
  return t;
}

// Spreadsheets in locales with a decimal comma separate fields with
// semicolons: a header with semicolons and no comma says so. The
// precipitation file's header decides for both files, and names the
// column of the records' own field capacity, if any.
void csvReadHeaders(std::string_view precipHeader, std::string_view /*tmeanHeader*/, ReadOptions& options) {
  const bool semicolons = precipHeader.find(';') != npos && precipHeader.find(',') == npos;
  options.separator = semicolons ? ';' : ',';
  options.decimalComma = semicolons;
  options.fieldCapacityColumn = 0;
  CsvFields fields(precipHeader, options.separator);
  std::string name;
  for (int column = 1; !fields.ended(); ++column) {
    name.clear();
    appendValue(fields.next(), name);
    if (sameIgnoringCase(trimBlanks(name), "field_capacity")) {
      options.fieldCapacityColumn = column;
      break;
    }
  }
}

}  // namespace

const InputFormatDescription kCsvFormat = {
    InputFormat::Csv,
    "csv",
    "CSV (comma separated)",
    false,
    true,
    nullptr,
    {},
    {},
    {},
    csvReadHeaders,
    nextCsvRecord,
    parseCsv,
    nullptr,
    csvMonthField,
    csvLatitudeField,
    csvIdField,
    csvFields,
    nullptr,
    {},
};

}  // namespace vadoset
