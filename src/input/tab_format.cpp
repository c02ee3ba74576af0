#include <cmath>

#include "input/formats.h"
#include "platform/text.h"

namespace vadoset {

namespace {

constexpr char kTab = '\t';

void parseTab(std::string_view precipLine, std::string_view tmeanLine, const ReadOptions& options, RecordInput& out,
              std::string& /*text*/) {
  // Field 1 the identifier, field 2 the latitude, fields 3 to 14 January to
  // December; the identifier and latitude come from the precipitation file.
  std::string_view p[kMonths + 2], t[kMonths + 2];
  splitFields(precipLine, kTab, p);
  splitFields(tmeanLine, kTab, t);
  out.id = p[0];
  std::optional<double> lat = ParseNumber(p[1]);
  out.latitude = (lat && *lat >= -90.0 && *lat <= 90.0) ? *lat : NAN;
  for (int m = 0; m < kMonths; ++m) {
    out.ppt[m] = detail::precipitationValue(p[m + 2], options.keepPrecipitationFraction);
    out.tmean[m] = detail::temperatureValue(t[m + 2]);
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
  splitAllFields(line, kTab, out);
}

std::size_t tabFieldCount(std::string_view line, const ReadOptions&) {
  return countFields(line, kTab);
}

// A CSV, semicolon or HCN file read as tab-delimited.
constexpr FormatCheck kTabChecks[] = {FormatCheck::LooksLikeCsv, FormatCheck::DecimalComma, FormatCheck::LooksLikeHcn};

}  // namespace

const InputFormatDescription kTabFormat = {
    InputFormat::Tab,
    "tab",
    "Tab delimited",
    false,
    false,
    nullptr,
    {},
    {},
    {},
    nullptr,
    detail::nextLine,
    parseTab,
    nullptr,
    tabMonthField,
    tabLatitudeField,
    tabIdField,
    tabFields,
    tabFieldCount,
    kTabChecks,
};

}  // namespace vadoset
