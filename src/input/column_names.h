#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vadoset {

/// What a header line's column name says its column holds.
enum class ColumnKind {
  Other,      // nothing we know, or an empty name
  Month,      // one month: a name or an abbreviation in English, German, French,
              // Spanish, Italian, Portuguese, Dutch or a Scandinavian language, or
              // a number from 1 to 12 ("3", "03", "m3", "prec_03")
  Annual,     // the year's total or mean: "Annual", "Total", "Year", "Sum", "Jahr", ...
  Latitude,   // "Lat", "Latitude", "Breite", ...
  Longitude,  // "Lon", "Long", "Longitude", "Länge", ...
};

struct ColumnName {
  ColumnKind kind = ColumnKind::Other;
  int month = 0;  // 1 to 12 for a Month
};

/// Reads one column name. Letter case and the accents of the Latin letters
/// are ignored; a byte-order mark or punctuation around the words is too.
ColumnName readColumnName(std::string_view name);

/// A column of a header line that is not where the format expects it.
struct HeaderProblem {
  enum What {
    LongitudeAsLatitude,  // field 2 is named as a longitude
    AnnualAmongMonths,    // an annual (total, sum, mean) column among fields 3 to 14
    OutOfPlace,           // a month, latitude or longitude column elsewhere than its field
  };
  What what;
  int field;         // from 1
  std::string name;  // as the header has it
  ColumnName read;   // what the name says
};

/// The first column of a header that is out of place for the layout of the
/// tab-delimited and CSV formats: field 1 the identifier, field 2 the
/// latitude, fields 3 to 14 January to December, anything after. Nothing
/// when every name is in place or none is known; `names` are the fields'
/// texts in order. `latitudeUsed` is false for the temperature file, whose
/// latitude field is not read (a longitude there is no mistake).
std::optional<HeaderProblem> findHeaderProblem(std::span<const std::string_view> names, bool latitudeUsed);

/// What the fields of a layout are, for messages: "January", "the latitude",
/// "the identifier" or "a field after December".
std::string expectedColumn(int field);

}  // namespace vadoset
