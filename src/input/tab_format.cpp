#include <cmath>

#include "input/formats.h"
#include "platform/text.h"

namespace vadoset {

namespace {

constexpr char kTab = '\t';

// Splits a line at tabs, one field after the other.
struct FieldWalker {
  std::string_view rest;
  bool ended = false;
  std::string_view next() {
    if (ended) return {};
    std::size_t p = rest.find(kTab);
    std::string_view f = rest.substr(0, p);
    if (p == std::string_view::npos) {
      ended = true;
      rest = {};
    } else {
      rest.remove_prefix(p + 1);
    }
    return f;
  }
};

void parseTab(std::string_view precipLine, std::string_view tmeanLine, const ReadOptions& options, RecordInput& out,
              std::string& /*text*/) {
  // Field 1 the identifier, field 2 the latitude, fields 3 to 14 January to
  // December; the identifier and latitude come from the precipitation file.
  FieldWalker p{precipLine};
  FieldWalker t{tmeanLine};
  out.id = p.next();
  std::optional<double> lat = ParseNumber(p.next());
  out.latitude = (lat && *lat >= -90.0 && *lat <= 90.0) ? *lat : NAN;
  t.next();
  t.next();
  for (int m = 0; m < kMonths; ++m) {
    out.ppt[m] = detail::precipitationValue(p.next(), options.keepPrecipitationFraction);
    out.tmean[m] = detail::temperatureValue(t.next());
  }
  // The record's own field capacity: whole millimetres, at least one. An
  // empty field, or none where the line ends sooner, makes the record null,
  // as any other text that is no such number does: never the run's.
  out.fieldCapacity = options.fieldCapacityField > 0
                          ? detail::fieldCapacityValue(NthField(precipLine, kTab, options.fieldCapacityField))
                          : options.fieldCapacity;
}

std::string_view tabMonthField(std::string_view line, int month, const ReadOptions&) {
  return NthField(line, kTab, month + 2);
}

std::string_view tabLatitudeField(std::string_view line, const ReadOptions&) {
  return NthField(line, kTab, 2);
}

std::string_view tabIdField(std::string_view line, const ReadOptions&) {
  return NthField(line, kTab, 1);
}

void tabFields(std::string_view line, const ReadOptions&, std::vector<std::string_view>& out) {
  out.clear();
  FieldWalker w{line};
  while (!w.ended) out.push_back(w.next());
}

// A CSV, semicolon or HCN file read as tab-delimited.
constexpr FormatCheck kTabChecks[] = {FormatCheck::LooksLikeCsv, FormatCheck::DecimalComma, FormatCheck::LooksLikeHcn};

}  // namespace

const InputFormatDescription kTabFormat = {
    InputFormat::Tab, "tab",    "Tab delimited", false,         nullptr,          {},         {},        nullptr,
    detail::nextLine, parseTab, nullptr,         tabMonthField, tabLatitudeField, tabIdField, tabFields, kTabChecks,
};

}  // namespace vadoset
