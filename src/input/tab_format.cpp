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
  out.fieldCapacity = options.fieldCapacity;
  if (options.fieldCapacityField > 0) {
    // The record's own field capacity: whole millimetres, at least one.
    std::string_view field = NthField(precipLine, kTab, options.fieldCapacityField);
    // An empty field takes the run's.
    if (!IsBlank(field)) out.fieldCapacity = detail::fieldCapacityValue(field);
  }
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
    nullptr,
    detail::nextLine,
    parseTab,
    nullptr,
    tabMonthField,
    tabLatitudeField,
    tabIdField,
};

}  // namespace vadoset
