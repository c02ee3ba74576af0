#include "run/input_checks.h"

#include <cmath>
#include <cstring>
#include <filesystem>

#include "platform/text.h"

namespace vadoset {

namespace {

std::string fileName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

// A field's text for a message: short, and quoted.
std::string quoted(std::string_view text) {
  std::string q = "'";
  q.append(text.substr(0, 40));
  if (text.size() > 40) q += "...";
  return q + "'";
}

std::string number(double v) {
  return Str(v);
}

bool has(std::string_view line, char c) {
  return std::memchr(line.data(), c, line.size()) != nullptr;
}

// A field such as "12,5": digits, one comma, digits.
bool isDecimalComma(std::string_view f) {
  std::size_t comma = f.find(',');
  if (comma == std::string_view::npos || comma == 0 || comma + 1 >= f.size()) return false;
  for (std::size_t i = 0; i < f.size(); ++i) {
    const char c = f[i];
    if (i == comma) continue;
    if (!(c >= '0' && c <= '9') && !(i == 0 && c == '-')) return false;
  }
  return true;
}

}  // namespace

InputChecks::InputChecks(const RunPlan& plan)
    : plan_(plan), precipName_(fileName(plan.precipName)), tmeanName_(fileName(plan.tmeanName)) {
  for (int& k : order_) k = -1;
}

bool InputChecks::count(Kind kind) {
  Finding& f = found_[kind];
  if (f.count++ > 0) return false;
  order_[seen_++] = kind;
  return true;
}

void InputChecks::note(Kind kind, std::string first) {
  if (count(kind)) found_[kind].first = std::move(first);
}

std::string InputChecks::where(bool precip, std::uint64_t line) const {
  return (precip ? precipName_ : tmeanName_) + " line " + std::to_string(line);
}

void InputChecks::headers(std::string_view precipHeader, std::string_view tmeanHeader) {
  const bool tab = plan_.format->format == InputFormat::Tab;
  for (bool precip : {true, false}) {
    std::string_view h = precip ? precipHeader : tmeanHeader;
    if (has(h, '\0') || (h.size() >= 2 && ((h[0] == '\xFF' && h[1] == '\xFE') || (h[0] == '\xFE' && h[1] == '\xFF'))))
      note(kNulBytes, where(precip, 1));
    if (tab && Left(h, 3) == "HCN") note(kLooksLikeHcn, precip ? precipName_ : tmeanName_);
    // A header of an identifier, a latitude and twelve numbers is a record.
    if (plan_.format->monthField != nullptr && !h.empty()) {
      int numbers = 0;
      for (int m = 1; m <= kMonths; ++m) numbers += ParseNumber(plan_.format->monthField(h, m, plan_.read)) ? 1 : 0;
      if (numbers == kMonths) note(kHeaderIsRecord, precip ? precipName_ : tmeanName_);
    }
  }
}

void InputChecks::record(const RecordBatch& b, const RecordSlot& r) {
  ++records_;
  if (r.result.isNull()) ++nulls_;
  const std::string_view p = b.precipLine(r);
  const std::string_view t = b.tmeanLine(r);
  const bool tab = plan_.format->format == InputFormat::Tab;

  for (bool precip : {true, false}) {
    std::string_view line = precip ? p : t;
    if ((has(line, '\0')) && count(kNulBytes)) found_[kNulBytes].first = where(precip, r.line);
    if (tab && !line.empty()) {
      if ((!has(line, '\t') && (has(line, ',') || has(line, ';'))) && count(kLooksLikeCsv))
        found_[kLooksLikeCsv].first = where(precip, r.line);
      if (has(line, ',')) {
        for (int m = 1; m <= kMonths; ++m) {
          std::string_view f = plan_.format->monthField(line, m, plan_.read);
          if (isDecimalComma(f)) {
            if (count(kDecimalComma)) found_[kDecimalComma].first = where(precip, r.line) + ", " + quoted(f);
            break;
          }
        }
      }
    }
  }

  // A first record without a single number is most likely a second header.
  if (records_ == 1 && plan_.format->monthField != nullptr) {
    for (bool precip : {true, false}) {
      std::string_view line = precip ? p : t;
      bool text = !line.empty();
      for (int m = 1; m <= kMonths && text; ++m) {
        std::string_view f = plan_.format->monthField(line, m, plan_.read);
        text = !f.empty() && !ParseNumber(f) && f != "NA";
      }
      if ((text) && count(kRecordIsHeader)) found_[kRecordIsHeader].first = where(precip, r.line);
    }
  }

  if (t.empty() && !p.empty()) {
    if (count(kTemperatureEnded)) found_[kTemperatureEnded].first = where(false, r.line);
  } else if (plan_.format->idField != nullptr) {
    std::string_view pid = plan_.format->idField(p, plan_.read);
    std::string_view tid = plan_.format->idField(t, plan_.read);
    if (pid != tid)
      if (count(kIdsDiffer))
        found_[kIdsDiffer].first = "line " + std::to_string(r.line) + ": " + quoted(pid) + " in " + precipName_ + ", " +
                                   quoted(tid) + " in " + tmeanName_;
  }

  const RecordInput& in = r.input;
  for (int m = 0; m < kMonths; ++m) {
    const double tm = in.tmean[m];
    if (tm < -80.0 || tm > 60.0)
      if (count(kTemperatureRange))
        found_[kTemperatureRange].first =
            where(false, r.line) + ", month " + std::to_string(m + 1) + ": " + number(tm) + " °C";
    const double pm = in.ppt[m];
    if (pm < 0.0 || pm > 5000.0) {
      const Kind kind = pm < 0.0 ? kNegativePrecipitation : kHugePrecipitation;
      if (count(kind))
        found_[kind].first = where(true, r.line) + ", month " + std::to_string(m + 1) + ": " +
                             quoted(plan_.format->monthField(p, m + 1, plan_.read));
    }
  }
  if (r.result.reason == NullReason::LatitudeInvalid && !plan_.format->usesLatitudeSetting)
    if (count(kLatitude))
      found_[kLatitude].first = where(true, r.line) + ", " + quoted(plan_.format->latitudeField(p, plan_.read));
}

void InputChecks::end(RunInputs& inputs, bool stopped) {
  if (!stopped && inputs.tmean && !inputs.tmean->onlyBlankLinesLeft())
    note(kMoreTemperatures, tmeanName_ + " after line " + std::to_string(records_ + 1));
  if (!stopped && records_ > 0 && nulls_ == records_) note(kAllNull, {});
  for (const auto& [in, name] :
       {std::pair{inputs.precip.get(), &precipName_}, std::pair{inputs.tmean.get(), &tmeanName_}})
    if (in != nullptr && in->linesCut() > 0) {
      if (count(kLinesCut)) found_[kLinesCut].first = *name;
      found_[kLinesCut].count += static_cast<std::int64_t>(in->linesCut()) - 1;
    }
}

std::vector<std::string> InputChecks::warnings() const {
  std::vector<std::string> out;
  for (int i = 0; i < seen_; ++i) {
    const Kind kind = static_cast<Kind>(order_[i]);
    const Finding& f = found_[kind];
    const std::string n = std::to_string(f.count);
    // "(x.txt line 3)", or "(12 lines; the first: x.txt line 3)".
    const std::string lines = f.count == 1 ? " (" + f.first + ")" : " (" + n + " lines; the first: " + f.first + ")";
    const std::string first = f.count == 1 ? " (" + f.first + ")" : " (the first: " + f.first + ")";
    std::string text;
    switch (kind) {
      case kLooksLikeCsv:
        text = "the file looks like a CSV file: its lines hold commas or semicolons but no tabs" + lines +
               ". Choose the CSV format (--format csv).";
        break;
      case kDecimalComma:
        text = "a number with a decimal comma is not a number here" + lines +
               ". Use points, or read a semicolon-separated file with --format csv.";
        break;
      case kNulBytes:
        text = "the file holds NUL bytes" + lines +
               ": it looks like UTF-16 (\"Unicode text\"). Save it as UTF-8 or plain text.";
        break;
      case kLooksLikeHcn:
        text = f.first +
               " looks like an HCN data file: its first line starts with HCN. Choose the HCN format "
               "(--format hcn).";
        break;
      case kHeaderIsRecord:
        text = "the first line of " + f.first +
               " looks like a record, not a header, and was skipped as the header. Every file needs one header "
               "line, or the records are paired with the wrong lines.";
        break;
      case kRecordIsHeader:
        text = "the first record holds no numbers, like a second header line" + first +
               ". Every file needs exactly one header line, or the records are paired with the wrong lines.";
        break;
      case kIdsDiffer:
        text = "the identifiers of the two files differ in " + n + (f.count == 1 ? " record" : " records") + " (" +
               (f.count == 1 ? "" : "the first: ") + f.first +
               "). The files are paired line by line: both must hold the same records in the same order, with one "
               "header line each.";
        break;
      case kTemperatureEnded:
        text = "the temperature file ended before the precipitation file: " + n +
               (f.count == 1 ? " record has" : " records have") + " no temperature line (the first: " + f.first +
               "); their rows are null.";
        break;
      case kMoreTemperatures:
        text = "the temperature file has more records than the precipitation file: the lines of " + f.first +
               " were not read.";
        break;
      case kTemperatureRange:
        text = n + (f.count == 1 ? " monthly mean temperature lies" : " monthly mean temperatures lie") +
               " outside -80 to 60 °C" + first + ". Are the temperature and precipitation files swapped?";
        break;
      case kNegativePrecipitation:
        text = n + (f.count == 1 ? " monthly precipitation total is" : " monthly precipitation totals are") +
               " negative" + first +
               ". A missing-value code such as -99.9 or -999 is read as a number: mark a missing month with "
               "-9999, NA or an empty field.";
        break;
      case kHugePrecipitation:
        text = n + (f.count == 1 ? " monthly precipitation total exceeds" : " monthly precipitation totals exceed") +
               " 5000 mm" + first + ". Are the files swapped, or the values in tenths of a millimetre?";
        break;
      case kLatitude:
        text = n + (f.count == 1 ? " record has" : " records have") + " no latitude from -90 to 90 decimal degrees" +
               first + "; their rows are null.";
        break;
      case kLinesCut:
        text = n + (f.count == 1 ? " line is" : " lines are") + " longer than " +
               std::to_string(TextInputStream::kMaxLineBytes >> 20) + " MiB and " + (f.count == 1 ? "was" : "were") +
               " cut there" + first + ".";
        break;
      case kAllNull:
        text = "every record is a null row: check the format and the files (--null-report FILE says why).";
        break;
      case kKinds:
        break;
    }
    out.push_back(std::move(text));
  }
  return out;
}

}  // namespace vadoset
