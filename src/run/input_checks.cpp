#include "run/input_checks.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <optional>

#include "input/column_names.h"
#include "model/climate_bounds.h"
#include "platform/text.h"
#include "run/run.h"

namespace vadoset {

namespace {

// A field's text for a message: short, and quoted.
std::string inQuotes(std::string_view text) {
  std::string q = "'";
  q.append(text.substr(0, 40));
  if (text.size() > 40) q += "...";
  return q + "'";
}

std::string number(double v) {
  return Str(v);
}

// A value for a message, to one decimal.
std::string rounded(double v) {
  return Str(std::round(v * 10.0) / 10.0);
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

// A field's number as the format reads it: with a decimal comma where the
// file uses them (a semicolon-separated CSV file).
std::optional<double> fieldNumber(std::string_view f, const ReadOptions& o) {
  if (!o.decimalComma || f.find(',') == std::string_view::npos || f.size() > 64) return ParseNumber(f);
  char buf[64];
  std::memcpy(buf, f.data(), f.size());
  for (std::size_t i = 0; i < f.size(); ++i)
    if (buf[i] == ',') buf[i] = '.';
  return ParseNumber(std::string_view(buf, f.size()));
}

// An identifier that reads as a year: four digits, blanks around them allowed.
std::optional<int> asYear(std::string_view id) {
  while (!id.empty() && id.front() == ' ') id.remove_prefix(1);
  while (!id.empty() && id.back() == ' ') id.remove_suffix(1);
  if (id.size() != 4) return std::nullopt;
  int year = 0;
  for (char c : id) {
    if (c < '0' || c > '9') return std::nullopt;
    year = year * 10 + (c - '0');
  }
  return year;
}

std::string plural(std::int64_t n, const char* one, const char* many) {
  return std::to_string(n) + (n == 1 ? one : many);
}

}  // namespace

// What a record shows, worked out once for all the checks that use it.
struct RecordFacts {
  climate::Temperatures t;
  climate::ScaleFit scale;
  double annualPrecipitation = NAN;  // mm, NaN with a month missing
};

struct EndFacts {
  bool stopped = false;
  bool moreTemperatures = false;
  std::uint64_t linesCut[2] = {0, 0};  // precipitation, temperature
};

struct InputChecks::Context {
  Context(const RunPlan& p, const std::string& pn, const std::string& tn) : plan(p), precipName(pn), tmeanName(tn) {}
  const RunPlan& plan;
  const std::string& precipName;
  const std::string& tmeanName;
  bool precip = true;  // the file that a check of each file looks at
  // The header lines.
  std::string_view precipHeader, tmeanHeader;
  // The record in hand and the one before it.
  const RecordSlot* slot = nullptr;
  std::string_view precipLine, tmeanLine;
  std::int64_t index = 0;  // from 1
  const RecordFacts* facts = nullptr;
  bool hasPrevious = false;
  double previousLatitude = NAN;
  std::string_view previousId;
  std::vector<std::string_view>* fields = nullptr;  // a header line's
  // Each line's fields, split once for every test that reads them.
  LineFields* lineFields = nullptr;
  mutable bool split[2] = {false, false};
  const std::vector<std::string_view>& fieldsOf(bool p) const {
    std::vector<std::string_view>& f = p ? lineFields->precip : lineFields->tmean;
    if (!split[p ? 0 : 1]) {
      plan.format->splitFields(p ? precipLine : tmeanLine, plan.read, f);
      split[p ? 0 : 1] = true;
    }
    return f;
  }
  // How many fields a line has: counted where the format can count them
  // without splitting the line (most lines are never split then).
  mutable std::size_t counted[2] = {0, 0};  // 0: not counted yet
  std::size_t fieldCount(bool p) const {
    if (split[p ? 0 : 1] || plan.format->fieldCount == nullptr) return fieldsOf(p).size();
    std::size_t& n = counted[p ? 0 : 1];
    if (n == 0) n = plan.format->fieldCount(p ? precipLine : tmeanLine, plan.read);
    return n;
  }
  // False on the threads that look at records out of their order: a test
  // that needs the record's place in the run, or the record before it,
  // defers (kDeferred) to the run's own thread.
  bool sequenceKnown = true;
  // After the last record.
  const EndFacts* end = nullptr;
  std::int64_t records = 0, nulls = 0;

  const ReadOptions& read() const { return plan.read; }
  const InputFormatDescription& format() const { return *plan.format; }
  const std::string& name() const { return precip ? precipName : tmeanName; }
  std::string_view header() const { return precip ? precipHeader : tmeanHeader; }
  std::string_view line() const { return precip ? precipLine : tmeanLine; }
  std::string where(bool p, std::uint64_t l) const {
    return (p ? precipName : tmeanName) + " line " + std::to_string(l);
  }
  std::string here() const { return where(precip, slot->line); }
  // The record's identifier and place, for the checks of a whole record.
  std::string recordPlace(bool p = true) const { return where(p, slot->line) + ", " + inQuotes(slot->input.id); }
};

namespace {

using Context = InputChecks::Context;
using Finding = InputChecks::Finding;

// What a test found: how many (lines, records or values), and a detail for
// the place of the first (a month, a field).
struct Hit {
  std::int64_t count = 0;
  int detail = 0;
  bool considered = true;  // for the checks of the bulk of a file
};

constexpr Hit kNone{};
constexpr Hit kNotConsidered{0, 0, false};
constexpr Hit kDeferred{-1, 0, false};
Hit hit(int detail = 0) {
  return Hit{1, detail, true};
}

enum class Tally : std::uint8_t {
  Every,  // a warning for one finding
  Bulk,   // a warning only when more than half of the records looked at are found
};

// One kind of check: when it applies, what it tests at each stage of the run
// (header lines, each record, the end), where its first finding was, and
// what it says.
struct CheckKind {
  bool eachFile;  // the tests run once for each file, with Context::precip set
  Tally tally;
  // Kinds of the group explain the same records in different ways (°F,
  // swapped files or a wrong latitude, say): 0 for none, 1 for a member,
  // 2 for a leader. A leader that is told silences the members; of the
  // members, only the one that explains the most records is told.
  int group;
  bool (*applies)(const RunPlan&);  // nullptr: every run
  Hit (*onHeader)(const Context&);
  Hit (*onRecord)(const Context&);
  Hit (*onEnd)(const Context&);
  std::string (*place)(const Context&, const Hit&);
  std::string (*message)(const Finding&);
};

// "(x.txt line 3)", or "(12 lines; the first: x.txt line 3)".
std::string lines(const Finding& f) {
  return f.count == 1 ? " (" + f.first + ")" : " (" + std::to_string(f.count) + " lines; the first: " + f.first + ")";
}
std::string first(const Finding& f) {
  return f.count == 1 ? " (" + f.first + ")" : " (the first: " + f.first + ")";
}
std::string ofConsidered(const Finding& f) {
  return std::to_string(f.count) + " of " + std::to_string(f.considered);
}

template <FormatCheck C>
bool own(const RunPlan& plan) {
  for (FormatCheck c : plan.format->ownChecks)
    if (c == C) return true;
  return false;
}
bool hasLatitudeField(const RunPlan& plan) {
  return !plan.format->usesLatitudeSetting;
}
bool usesLatitudeSetting(const RunPlan& plan) {
  return plan.format->usesLatitudeSetting;
}
bool namesColumns(const RunPlan& plan) {
  return plan.format->splitFields != nullptr;
}

std::string placeHere(const Context& c, const Hit&) {
  return c.here();
}
std::string placeFile(const Context& c, const Hit&) {
  return c.name();
}

// The header problem of a file's header line, if any.
std::optional<HeaderProblem> headerProblem(const Context& c) {
  c.format().splitFields(c.header(), c.read(), *c.fields);
  return findHeaderProblem(*c.fields, c.precip);
}
Hit headerHas(const Context& c, HeaderProblem::What what) {
  const std::optional<HeaderProblem> p = headerProblem(c);
  return p && p->what == what ? hit() : kNone;
}
std::string placeHeader(const Context& c, const Hit&) {
  const std::optional<HeaderProblem> p = headerProblem(c);
  if (!p) return c.name();
  return "field " + std::to_string(p->field) + " of " + c.name() + " is named " + inQuotes(p->name) + ", where " +
         expectedColumn(p->field) + " belongs";
}

// Months whose value lies outside a range; the first in the detail.
template <bool Precipitation>
Hit monthsOutside(const Context& c, double low, double high) {
  Hit h;
  for (int m = 0; m < kMonths; ++m) {
    const double v = Precipitation ? c.slot->input.ppt[m] : c.slot->input.tmean[m];
    if (v < low || v > high) {
      if (h.count++ == 0) h.detail = m + 1;
    }
  }
  return h;
}
std::string placePrecipitationMonth(const Context& c, const Hit& h) {
  return c.where(true, c.slot->line) + ", month " + std::to_string(h.detail) + ": " +
         inQuotes(c.format().monthField(c.precipLine, h.detail, c.read()));
}

// Whether the record's temperatures fit no climate in °C but one in
// another scale.
bool anotherScale(const Context& c) {
  const climate::ScaleFit& f = c.facts->scale;
  return !f.celsius && (f.kelvin || f.fahrenheit || f.tenths);
}
std::string placeTemperatures(const Context& c, const Hit&) {
  const climate::Temperatures& t = c.facts->t;
  return c.recordPlace(false) + ": annual mean " + rounded(t.mean) + ", coldest month " + rounded(t.coldest) +
         ", warmest " + rounded(t.warmest);
}
std::string placePrecipitation(const Context& c, const Hit&) {
  return c.recordPlace() + ": " + rounded(c.facts->annualPrecipitation) + " mm a year at " + rounded(c.facts->t.mean) +
         " °C";
}
Hit precipitationIs(const Context& c, climate::PrecipitationFit fit) {
  const double mean = c.facts->t.mean;
  if (std::isnan(c.facts->annualPrecipitation) || !c.facts->t.complete) return kNotConsidered;
  // Only temperatures where a dry year tells something count for the bulk.
  if (fit == climate::PrecipitationFit::TooLow && !(mean >= climate::kDryColdest && mean < climate::kDryWarmest))
    return kNotConsidered;
  return climate::precipitationFit(c.facts->annualPrecipitation, mean) == fit ? hit() : kNone;
}

// The latitude that a record's temperatures belong to: its own, or the
// run's where the format has none.
double latitudeOf(const Context& c) {
  return c.format().usesLatitudeSetting ? c.read().latitude : c.slot->input.latitude;
}

// An annual total among the months: one of fields 3 to 15 of a precipitation
// line that equals the sum of the twelve others, to the rounding of
// published totals. At field 15, after December, it is not read and does no
// harm.
Hit annualTotalAmongMonths(const Context& c) {
  if (c.fieldCount(true) < 15) return kNotConsidered;
  const std::vector<std::string_view>& f = c.fieldsOf(true);
  double v[13], sum = 0.0;
  for (int i = 0; i < 13; ++i) {
    const std::optional<double> n = fieldNumber(f[static_cast<std::size_t>(i + 2)], c.read());
    if (!n || *n < 0.0) return kNotConsidered;
    v[i] = *n;
    sum += *n;
  }
  for (int i = 0; i < 12; ++i) {
    const double others = sum - v[i];
    if (others > 20.0 && std::fabs(v[i] - others) <= std::max(1.0, 0.01 * others)) return hit(i + 3);
  }
  return kNone;
}

const CheckKind kChecks[] = {
    // A CSV file read as tab-delimited.
    {true, Tally::Every, 0, own<FormatCheck::LooksLikeCsv>, nullptr,
     [](const Context& c) {
       const std::string_view l = c.line();
       return !l.empty() && !has(l, '\t') && (has(l, ',') || has(l, ';')) ? hit() : kNone;
     },
     nullptr, placeHere,
     [](const Finding& f) {
       return "the file looks like a CSV file: its lines hold commas or semicolons but no tabs" + lines(f) +
              ". Choose the CSV format (--format csv).";
     }},
    // Decimal commas in a tab-delimited file.
    {true, Tally::Every, 0, own<FormatCheck::DecimalComma>, nullptr,
     [](const Context& c) {
       const std::string_view l = c.line();
       if (l.empty() || !has(l, ',')) return kNone;
       for (int m = 1; m <= kMonths; ++m)
         if (isDecimalComma(c.format().monthField(l, m, c.read()))) return hit(m);
       return kNone;
     },
     nullptr,
     [](const Context& c, const Hit& h) {
       return c.here() + ", " + inQuotes(c.format().monthField(c.line(), h.detail, c.read()));
     },
     [](const Finding& f) {
       return "a number with a decimal comma is not a number here" + lines(f) +
              ". Use points, or read a semicolon-separated file with --format csv.";
     }},
    // UTF-16 text.
    {true, Tally::Every, 0, nullptr,
     [](const Context& c) {
       const std::string_view h = c.header();
       const bool bom = h.size() >= 2 && ((h[0] == '\xFF' && h[1] == '\xFE') || (h[0] == '\xFE' && h[1] == '\xFF'));
       return has(h, '\0') || bom ? hit() : kNone;
     },
     [](const Context& c) { return has(c.line(), '\0') ? hit() : kNone; }, nullptr,
     [](const Context& c, const Hit&) { return c.slot == nullptr ? c.where(c.precip, 1) : c.here(); },
     [](const Finding& f) {
       return "the file holds NUL bytes" + lines(f) +
              ": it looks like UTF-16 (\"Unicode text\"). Save it as UTF-8 or plain text.";
     }},
    // An HCN file read as tab-delimited.
    {true, Tally::Every, 0, own<FormatCheck::LooksLikeHcn>,
     [](const Context& c) { return Left(c.header(), 3) == "HCN" ? hit() : kNone; }, nullptr, nullptr, placeFile,
     [](const Finding& f) {
       return f.first +
              " looks like an HCN data file: its first line starts with HCN. Choose the HCN format "
              "(--format hcn).";
     }},
    // A header of an identifier, a latitude and twelve numbers is a record.
    {true, Tally::Every, 0, nullptr,
     [](const Context& c) {
       const std::string_view h = c.header();
       if (h.empty()) return kNone;
       for (int m = 1; m <= kMonths; ++m)
         if (!fieldNumber(c.format().monthField(h, m, c.read()), c.read())) return kNone;
       return hit();
     },
     nullptr, nullptr, placeFile,
     [](const Finding& f) {
       return "the first line of " + f.first +
              " looks like a record, not a header, and was skipped as the header. Every file needs one header "
              "line, or the records are paired with the wrong lines.";
     }},
    // A first record without a single number is most likely a second header.
    {true, Tally::Every, 0, nullptr, nullptr,
     [](const Context& c) {
       if (!c.sequenceKnown) return kDeferred;
       const std::string_view l = c.line();
       if (c.index != 1 || l.empty()) return kNone;
       for (int m = 1; m <= kMonths; ++m) {
         const std::string_view f = c.format().monthField(l, m, c.read());
         if (f.empty() || f == "NA" || fieldNumber(f, c.read())) return kNone;
       }
       return hit();
     },
     nullptr, placeHere,
     [](const Finding& f) {
       return "the first record holds no numbers, like a second header line" + first(f) +
              ". Every file needs exactly one header line, or the records are paired with the wrong lines.";
     }},
    // The files hold different records.
    {false, Tally::Every, 0, nullptr, nullptr,
     [](const Context& c) {
       const bool ended = c.tmeanLine.empty() && !c.precipLine.empty();
       if (ended || c.format().idField == nullptr) return kNone;
       return c.format().idField(c.precipLine, c.read()) != c.format().idField(c.tmeanLine, c.read()) ? hit() : kNone;
     },
     nullptr,
     [](const Context& c, const Hit&) {
       return "line " + std::to_string(c.slot->line) + ": " + inQuotes(c.format().idField(c.precipLine, c.read())) +
              " in " + c.precipName + ", " + inQuotes(c.format().idField(c.tmeanLine, c.read())) + " in " + c.tmeanName;
     },
     [](const Finding& f) {
       return "the identifiers of the two files differ in " + plural(f.count, " record", " records") + " (" +
              (f.count == 1 ? "" : "the first: ") + f.first +
              "). The files are paired line by line: both must hold the same records in the same order, with one "
              "header line each.";
     }},
    {false, Tally::Every, 0, nullptr, nullptr,
     [](const Context& c) { return c.tmeanLine.empty() && !c.precipLine.empty() ? hit() : kNone; }, nullptr,
     [](const Context& c, const Hit&) { return c.where(false, c.slot->line); },
     [](const Finding& f) {
       return "the temperature file ended before the precipitation file: " +
              plural(f.count, " record has", " records have") + " no temperature line (the first: " + f.first +
              "); their rows are null.";
     }},
    {false, Tally::Every, 0, nullptr, nullptr, nullptr,
     [](const Context& c) { return !c.end->stopped && c.end->moreTemperatures ? hit() : kNone; },
     [](const Context& c, const Hit&) { return c.tmeanName + " after line " + std::to_string(c.records + 1); },
     [](const Finding& f) {
       return "the temperature file has more records than the precipitation file: the lines of " + f.first +
              " were not read.";
     }},
    // The run's latitude, where the user gave none.
    {false, Tally::Every, 0, [](const RunPlan& p) { return p.format->usesLatitudeSetting && p.read.latitudeDefaulted; },
     [](const Context&) { return hit(); }, nullptr, nullptr,
     [](const Context& c, const Hit&) { return number(c.read().latitude); },
     [](const Finding& f) {
       return "--latitude was not given: every record was computed at latitude " + f.first +
              " (Burlington, Vermont). Give the station's latitude with --latitude DEGREES.";
     }},
    // Lines shorter than a record: a field missing, the temperature file's
    // latitude say. (A line without a single separator is another mistake,
    // told above.)
    {true, Tally::Every, 0, namesColumns, nullptr,
     [](const Context& c) {
       const int n = static_cast<int>(c.fieldCount(c.precip));
       return n >= 2 && n < kMonths + 2 ? Hit{1, n, true} : kNone;
     },
     nullptr,
     [](const Context& c, const Hit& h) {
       return c.here() + " has " + plural(h.detail, " field", " fields") + ", " + std::to_string(kMonths + 2) +
              " are needed";
     },
     [](const Finding& f) {
       return plural(f.count, " line has", " lines have") + " fewer fields than a record" + first(f) +
              ": the months past the end are missing and make null rows. Both files need the identifier, the "
              "latitude (the temperature file's too, though it is not read) and January to December.";
     }},
    {false, Tally::Every, 0,
     [](const RunPlan& p) {
       return p.format->splitFields != nullptr && (p.read.fieldCapacityColumn > 0 || p.read.fieldCapacityField > 0);
     },
     nullptr,
     [](const Context& c) {
       const int k = c.read().fieldCapacityColumn > 0 ? c.read().fieldCapacityColumn : c.read().fieldCapacityField;
       const int n = static_cast<int>(c.fieldCount(true));
       return !c.precipLine.empty() && n < k ? Hit{1, n, true} : kNone;
     },
     nullptr,
     [](const Context& c, const Hit& h) {
       const int k = c.read().fieldCapacityColumn > 0 ? c.read().fieldCapacityColumn : c.read().fieldCapacityField;
       return c.here() + " has " + plural(h.detail, " field", " fields") + ", the field capacity is field " +
              std::to_string(k);
     },
     [](const Finding& f) {
       return plural(f.count, " record has", " records have") + " no field for its own field capacity" + first(f) +
              ": their rows are null. Does --field-capacity-field (or the field_capacity column) name the right "
              "field?";
     }},

    // Values no climate has. Records that fit another scale are told so
    // below instead.
    {false, Tally::Every, 0, nullptr, nullptr,
     [](const Context& c) {
       if (anotherScale(c)) return kNone;
       return monthsOutside<false>(c, -80.0, 60.0);
     },
     nullptr,
     [](const Context& c, const Hit& h) {
       return c.where(false, c.slot->line) + ", month " + std::to_string(h.detail) + ": " +
              number(c.slot->input.tmean[h.detail - 1]) + " °C";
     },
     [](const Finding& f) {
       return plural(f.count, " monthly mean temperature lies", " monthly mean temperatures lie") +
              " outside -80 to 60 °C" + first(f) + ". Are the temperature and precipitation files swapped?";
     }},
    {false, Tally::Every, 0, nullptr, nullptr, [](const Context& c) { return monthsOutside<true>(c, 0.0, INFINITY); },
     nullptr, placePrecipitationMonth,
     [](const Finding& f) {
       return plural(f.count, " monthly precipitation total is", " monthly precipitation totals are") + " negative" +
              first(f) +
              ". A missing-value code such as -99.9 or -999 is read as a number: mark a missing month with "
              "-9999, NA or an empty field.";
     }},
    {false, Tally::Every, 0, nullptr, nullptr,
     [](const Context& c) { return monthsOutside<true>(c, -INFINITY, 5000.0); }, nullptr, placePrecipitationMonth,
     [](const Finding& f) {
       return plural(f.count, " monthly precipitation total exceeds", " monthly precipitation totals exceed") +
              " 5000 mm" + first(f) + ". Are the files swapped, or the values in tenths of a millimetre?";
     }},
    {false, Tally::Every, 0, hasLatitudeField, nullptr,
     [](const Context& c) { return c.slot->result.reason == NullReason::LatitudeInvalid ? hit() : kNone; }, nullptr,
     [](const Context& c, const Hit&) {
       return c.where(true, c.slot->line) + ", " + inQuotes(c.format().latitudeField(c.precipLine, c.read()));
     },
     [](const Finding& f) {
       return plural(f.count, " record has", " records have") + " no latitude from -90 to 90 decimal degrees" +
              first(f) + "; their rows are null.";
     }},
    {true, Tally::Every, 0, nullptr, nullptr, nullptr,
     [](const Context& c) {
       return Hit{static_cast<std::int64_t>(c.end->linesCut[c.precip ? 0 : 1]), 0, true};
     },
     placeFile,
     [](const Finding& f) {
       return plural(f.count, " line is", " lines are") + " longer than " +
              std::to_string(TextInputStream::kMaxLineBytes >> 20) + " MiB and " + (f.count == 1 ? "was" : "were") +
              " cut there" + first(f) + ".";
     }},
    {false, Tally::Every, 0, nullptr, nullptr, nullptr,
     [](const Context& c) { return !c.end->stopped && c.records > 0 && c.nulls == c.records ? hit() : kNone; },
     [](const Context&, const Hit&) { return std::string(); },
     [](const Finding&) {
       return std::string("every record is a null row: check the format and the files (--null-report FILE says why).");
     }},

    // The header's column names against the fields the format reads.
    {true, Tally::Every, 0, namesColumns,
     [](const Context& c) { return headerHas(c, HeaderProblem::AnnualAmongMonths); }, nullptr, nullptr, placeHeader,
     [](const Finding& f) {
       return "the header names an annual column among the months" + first(f) +
              ". The months are read from fields 3 to 14 in order, so a total or mean there is read as a month and "
              "the months after it shift. Remove the column, or move it after December.";
     }},
    {true, Tally::Every, 0, namesColumns,
     [](const Context& c) { return headerHas(c, HeaderProblem::LongitudeAsLatitude); }, nullptr, nullptr, placeHeader,
     [](const Finding& f) {
       return "the header names a longitude where the latitude belongs" + first(f) +
              ". Every record would be computed at its longitude. Put the latitude (decimal degrees, north "
              "positive) in field 2.";
     }},
    {true, Tally::Every, 0, namesColumns, [](const Context& c) { return headerHas(c, HeaderProblem::OutOfPlace); },
     nullptr, nullptr, placeHeader,
     [](const Finding& f) {
       return "the header names a column out of place" + first(f) +
              ". Both files need the identifier in field 1, the latitude in field 2 (the temperature file's is not "
              "used, but its field must be there) and January to December in fields 3 to 14.";
     }},
    {false, Tally::Bulk, 0, namesColumns, nullptr, annualTotalAmongMonths, nullptr,
     [](const Context& c, const Hit& h) {
       return c.where(true, c.slot->line) + ", field " + std::to_string(h.detail) + ": " +
              inQuotes(c.fieldsOf(true)[static_cast<std::size_t>(h.detail - 1)]);
     },
     [](const Finding& f) {
       return "the precipitation file holds an annual total among the months: in " + ofConsidered(f) +
              " records one of fields 3 to 14 equals the sum of the twelve others" + first(f) +
              ". It is read as a month, and the months after it shift. Remove the column, or move it after "
              "December.";
     }},

    // Swapped files: beyond the tropics, the precipitation file holds what
    // looks like temperatures, with a clear summer in the record's hemisphere.
    {false, Tally::Bulk, 2, nullptr, nullptr,
     [](const Context& c) {
       const climate::Temperatures p = climate::summarize(c.slot->input.ppt.data());
       const double lat = latitudeOf(c);
       if (!p.complete || !c.facts->t.complete || !(std::fabs(lat) >= climate::kTropics)) return kNotConsidered;
       return climate::looksLikeTemperatures(p, lat) ? hit() : kNone;
     },
     nullptr, [](const Context& c, const Hit&) { return c.recordPlace(); },
     [](const Finding& f) {
       return "the temperature and precipitation files look swapped: in " + ofConsidered(f) +
              " records beyond the tropics the precipitation file holds what looks like monthly mean temperatures" +
              first(f) + ". Give the temperature file with -t and the precipitation file with -p.";
     }},

    // Temperatures in another scale.
    {false, Tally::Every, 1, nullptr, nullptr,
     [](const Context& c) { return c.facts->scale.fahrenheit ? hit() : kNone; }, nullptr, placeTemperatures,
     [](const Finding& f) {
       return plural(f.count, " record holds", " records hold") +
              " monthly mean temperatures that no place on Earth has in °C, but that fit as degrees Fahrenheit" +
              first(f) + ". Convert them to °C: (F - 32) / 1.8.";
     }},
    {false, Tally::Every, 1, nullptr, nullptr, [](const Context& c) { return c.facts->scale.kelvin ? hit() : kNone; },
     nullptr, placeTemperatures,
     [](const Finding& f) {
       return plural(f.count, " record holds", " records hold") +
              " monthly mean temperatures that no place on Earth has in °C, but that fit as kelvins" + first(f) +
              ". Convert them to °C: subtract 273.15.";
     }},
    {false, Tally::Every, 1, nullptr, nullptr, [](const Context& c) { return c.facts->scale.tenths ? hit() : kNone; },
     nullptr, placeTemperatures,
     [](const Finding& f) {
       return plural(f.count, " record holds", " records hold") +
              " monthly mean temperatures that no place on Earth has in °C, but that fit as tenths of a degree" +
              first(f) + ". Divide them by 10 (HCN data files: --format hcn).";
     }},

    // Precipitation in another unit: most of the file too dry or too wet
    // for its temperatures.
    {false, Tally::Bulk, 0, nullptr, nullptr,
     [](const Context& c) { return precipitationIs(c, climate::PrecipitationFit::TooLow); }, nullptr,
     placePrecipitation,
     [](const Finding& f) {
       return ofConsidered(f) +
              " records get less than 100 mm of precipitation a year at annual mean temperatures from -10 to 16 °C, "
              "which only deserts do" +
              first(f) + ". Are the values in inches (multiply by 25.4) or centimetres (multiply by 10)?";
     }},
    {false, Tally::Bulk, 0, nullptr, nullptr,
     [](const Context& c) { return precipitationIs(c, climate::PrecipitationFit::TooHigh); }, nullptr,
     placePrecipitation,
     [](const Finding& f) {
       return ofConsidered(f) +
              " records get more precipitation a year than all but the wettest places on Earth at their "
              "temperatures" +
              first(f) + ". Are the values in tenths of a millimetre (divide by 10)?";
     }},

    // The latitude: its sign, or a longitude in its place.
    {false, Tally::Every, 1, hasLatitudeField, nullptr,
     [](const Context& c) {
       // Only the seasons of a plausible climate tell the hemisphere.
       return c.facts->scale.celsius &&
                      climate::seasonsFor(c.facts->t, c.slot->input.latitude) == climate::Seasons::Reversed
                  ? hit()
                  : kNone;
     },
     nullptr,
     [](const Context& c, const Hit&) {
       const bool north = c.slot->input.latitude > 0;
       return c.recordPlace() + ": latitude " + number(c.slot->input.latitude) + ", warmest " +
              (north ? "December to February" : "June to August");
     },
     [](const Finding& f) {
       return plural(f.count, " record", " records") +
              " beyond the tropics have the warm season of the other hemisphere" + first(f) +
              ". Is the latitude's sign missing or wrong? Southern latitudes are negative.";
     }},
    {false, Tally::Bulk, 0, usesLatitudeSetting, nullptr,
     [](const Context& c) {
       const climate::Seasons s =
           c.facts->scale.celsius ? climate::seasonsFor(c.facts->t, c.read().latitude) : climate::Seasons::NotTold;
       return s == climate::Seasons::NotTold ? kNotConsidered : s == climate::Seasons::Reversed ? hit() : kNone;
     },
     nullptr,
     [](const Context& c, const Hit&) {
       return c.recordPlace() + ": the run's latitude " + number(c.read().latitude) + ", warmest " +
              (c.read().latitude > 0 ? "December to February" : "June to August");
     },
     [](const Finding& f) {
       return ofConsidered(f) + " records have the warm season of the other hemisphere than the run's latitude" +
              first(f) + ". Is the sign of --latitude missing or wrong? Southern latitudes are negative.";
     }},
    {false, Tally::Every, 2, hasLatitudeField, nullptr,
     [](const Context& c) {
       // A latitude read as one (within ±90) is no longitude beyond 90.
       if (!std::isnan(c.slot->input.latitude)) return kNone;
       const std::optional<double> v = fieldNumber(c.format().latitudeField(c.precipLine, c.read()), c.read());
       return v && std::fabs(*v) > 90.0 && std::fabs(*v) <= 180.0 ? hit() : kNone;
     },
     nullptr,
     [](const Context& c, const Hit&) {
       return c.where(true, c.slot->line) + ", " + inQuotes(c.format().latitudeField(c.precipLine, c.read()));
     },
     [](const Finding& f) {
       return plural(f.count, " record has", " records have") + " a latitude beyond 90 degrees" + first(f) +
              ": the latitude field looks like a longitude, and the records within ±90 were computed at the wrong "
              "latitude. Put the latitude (decimal degrees, north positive) in field 2.";
     }},

    // Carry-over chains one site's years in order.
    {false, Tally::Every, 0, [](const RunPlan& p) { return p.model.carryover && hasLatitudeField(p); }, nullptr,
     [](const Context& c) {
       if (!c.sequenceKnown) return kDeferred;
       const double lat = c.slot->input.latitude;
       return c.hasPrevious && !std::isnan(lat) && !std::isnan(c.previousLatitude) && lat != c.previousLatitude ? hit()
                                                                                                                : kNone;
     },
     nullptr,
     [](const Context& c, const Hit&) {
       return c.recordPlace() + ": latitude " + number(c.slot->input.latitude) + " after " + number(c.previousLatitude);
     },
     [](const Finding& f) {
       return "with --carryover, the latitude changes from one record to the next " +
              plural(f.count, " time", " times") + first(f) +
              ": soil water and snow were carried from one site to another. Carry-over chains one site's years "
              "in order: run each site's years as a file of their own, or leave out --carryover.";
     }},
    {false, Tally::Every, 0, [](const RunPlan& p) { return p.model.carryover; }, nullptr,
     [](const Context& c) {
       if (!c.sequenceKnown) return kDeferred;
       if (!c.hasPrevious) return kNone;
       const std::optional<int> year = asYear(c.slot->input.id), before = asYear(c.previousId);
       return year && before && *year != *before + 1 ? hit() : kNone;
     },
     nullptr,
     [](const Context& c, const Hit&) {
       return c.where(true, c.slot->line) + ": " + inQuotes(c.slot->input.id) + " after " + inQuotes(c.previousId);
     },
     [](const Finding& f) {
       return "with --carryover, " + plural(f.count, " record does", " records do") + " not follow the year before it" +
              first(f) +
              ". Carry-over chains one site's years in order: sort the records by year, one site a file, or leave "
              "out --carryover.";
     }},
};

constexpr int kKinds = static_cast<int>(std::size(kChecks));

enum Stage : int { kHeaderStage, kRecordStage, kEndStage };

Hit (*testOf(const CheckKind& k, int stage))(const Context&) {
  return stage == kHeaderStage ? k.onHeader : stage == kRecordStage ? k.onRecord : k.onEnd;
}

}  // namespace

InputChecks::InputChecks(const RunPlan& plan)
    : plan_(plan),
      // Files are named as the user gave them, folder and all.
      precipName_(plan.precipName),
      tmeanName_(plan.tmeanName),
      found_(kKinds),
      previousLatitude_(NAN) {
  for (int k = 0; k < kKinds; ++k) {
    if (kChecks[k].applies != nullptr && !kChecks[k].applies(plan)) continue;
    active_.push_back(k);
    if (kChecks[k].onRecord != nullptr)
      for (int file = 0; file < (kChecks[k].eachFile ? 2 : 1); ++file) recordTests_.emplace_back(k, file);
  }
}

void InputChecks::run(int stage, const void* subject) {
  Context& c = *static_cast<Context*>(const_cast<void*>(subject));
  for (int k : active_) {
    const CheckKind& kind = kChecks[k];
    Hit (*test)(const Context&) = testOf(kind, stage);
    if (test == nullptr) continue;
    for (int file = 0; file < (kind.eachFile ? 2 : 1); ++file) {
      c.precip = file == 0;
      const Hit h = test(c);
      Finding& f = found_[static_cast<std::size_t>(k)];
      if (h.considered) ++f.considered;
      if (h.count == 0) continue;
      if (f.count == 0) {
        f.first = kind.place(c, h);
        order_.push_back(k);
      }
      f.count += h.count;
    }
  }
}

void InputChecks::headers(std::string_view precipHeader, std::string_view tmeanHeader) {
  Context c{plan_, precipName_, tmeanName_};
  c.precipHeader = precipHeader;
  c.tmeanHeader = tmeanHeader;
  c.fields = &fields_;
  run(kHeaderStage, &c);
}

namespace {

// What a record shows, worked out once for all the tests that use it.
RecordFacts factsOf(const RunPlan& plan, const RecordInput& in) {
  RecordFacts facts;
  facts.t = climate::summarize(in.tmean.data());
  // Where every record takes the run's latitude, the bounds of any latitude.
  facts.scale = climate::scaleFit(in.tmean.data(), facts.t, plan.format->usesLatitudeSetting ? NAN : in.latitude);
  double total = 0.0;
  for (double v : in.ppt) total += v;
  facts.annualPrecipitation = total;
  return facts;
}

}  // namespace

void InputChecks::examine(const RecordBatch& b, RecordSlot& r, LineFields& fields) const {
  const RecordFacts facts = factsOf(plan_, r.input);
  Context c{plan_, precipName_, tmeanName_};
  c.slot = &r;
  c.precipLine = b.precipLine(r);
  c.tmeanLine = b.tmeanLine(r);
  c.facts = &facts;
  c.lineFields = &fields;
  c.sequenceKnown = false;
  // One hit for each test of recordTests_, in order; the slot keeps its room.
  r.hits.resize(recordTests_.size());
  CheckHit* hit = r.hits.data();
  std::uint64_t considered = 0, deferred = 0;
  bool any = recordTests_.size() > 64;
  std::uint64_t bit = 1;
  for (const auto& [k, file] : recordTests_) {
    c.precip = file == 0;
    const Hit h = kChecks[k].onRecord(c);
    *hit++ = CheckHit{h.count, h.detail, h.considered};
    if (h.considered) considered |= bit;
    if (h.count < 0)
      deferred |= bit;
    else
      any = any || h.count != 0;
    bit <<= 1;
  }
  r.consideredTests = considered;
  r.deferredTests = deferred;
  r.anyHit = any;
}

// Adds the quiet records in a row to the counts of the tests that
// considered them.
void InputChecks::countConsidered() {
  for (std::size_t i = 0; quietTests_ != 0 && i < recordTests_.size(); ++i)
    if ((quietTests_ >> i) & 1U) found_[static_cast<std::size_t>(recordTests_[i].first)].considered += quietRecords_;
  quietTests_ = 0;
  quietRecords_ = 0;
}

void InputChecks::record(const RecordBatch& b, const RecordSlot& r) {
  ++records_;
  if (r.result.isNull()) ++nulls_;
  const RecordInput& in = r.input;
  Context c{plan_, precipName_, tmeanName_};
  c.slot = &r;
  c.precipLine = b.precipLine(r);
  c.tmeanLine = b.tmeanLine(r);
  c.index = records_;
  c.hasPrevious = hasPrevious_;
  c.previousLatitude = previousLatitude_;
  c.previousId = previousId_;
  c.lineFields = &lineFields_;
  // The facts are worked out again only for the place of a kind's first
  // finding (the tests deferred to here read none).
  std::optional<RecordFacts> facts;
  auto withFacts = [&] {
    if (!facts) facts = factsOf(plan_, in);
    c.facts = &*facts;
  };
  // A test's hit: counted, and the first of its kind placed.
  auto take = [&](std::size_t test, Hit h) {
    const auto [k, file] = recordTests_[test];
    const CheckKind& kind = kChecks[k];
    c.precip = file == 0;
    if (h.count < 0) h = kind.onRecord(c);
    Finding& f = found_[static_cast<std::size_t>(k)];
    if (h.considered) ++f.considered;
    if (h.count == 0) return;
    if (f.count == 0) {
      // The test again here, so that what its place reads is at hand.
      withFacts();
      kind.onRecord(c);
      f.first = kind.place(c, h);
      order_.push_back(k);
    }
    f.count += h.count;
  };
  if (!r.anyHit) {
    // Most records: no test found anything, and only the counts of what was
    // considered change, once for a row of records alike; then the tests
    // that needed the records before this one.
    if (r.consideredTests != quietTests_) {
      countConsidered();
      quietTests_ = r.consideredTests;
    }
    ++quietRecords_;
    for (std::uint64_t d = r.deferredTests; d != 0; d &= d - 1)
      take(static_cast<std::size_t>(std::countr_zero(d)), Hit{-1, 0, false});
  } else {
    countConsidered();
    for (std::size_t i = 0; i < recordTests_.size(); ++i) {
      const CheckHit& seen = r.hits[i];
      take(i, Hit{seen.count, seen.detail, seen.considered});
    }
  }
  if (plan_.model.carryover) {
    hasPrevious_ = true;
    previousLatitude_ = in.latitude;
    previousId_.assign(in.id);
  }
}

void InputChecks::end(RunInputs& inputs, bool stopped) {
  countConsidered();
  EndFacts e;
  e.stopped = stopped;
  e.moreTemperatures = inputs.tmean && !inputs.tmean->onlyBlankLinesLeft();
  if (inputs.precip) e.linesCut[0] = inputs.precip->linesCut();
  if (inputs.tmean) e.linesCut[1] = inputs.tmean->linesCut();
  Context c{plan_, precipName_, tmeanName_};
  c.end = &e;
  c.records = records_;
  c.nulls = nulls_;
  c.fields = &fields_;
  run(kEndStage, &c);
}

std::vector<std::string> InputChecks::warnings() const {
  auto shown = [this](int k) {
    const Finding& f = found_[static_cast<std::size_t>(k)];
    return f.count > 0 && (kChecks[k].tally != Tally::Bulk || f.count * 2 > f.considered);
  };
  std::vector<std::string> out;
  for (int k : order_) {
    if (!shown(k)) continue;
    bool beaten = false;
    if (kChecks[k].group == 1) {
      for (int other : order_) {
        if (other == k || kChecks[other].group == 0 || !shown(other)) continue;
        const std::int64_t mine = found_[static_cast<std::size_t>(k)].count;
        const std::int64_t theirs = found_[static_cast<std::size_t>(other)].count;
        beaten = beaten || kChecks[other].group == 2 || theirs > mine || (theirs == mine && other < k);
      }
    }
    if (!beaten) out.push_back(kChecks[k].message(found_[static_cast<std::size_t>(k)]));
  }
  return out;
}

}  // namespace vadoset
