#include <cmath>

#include "input/formats.h"
#include "platform/text.h"

namespace vadoset {

namespace {

bool hcnHeaderOk(std::string_view line) {
  return Left(line, 3) == "HCN";
}

// Columns 13 to 16 hold the year; month m occupies the five columns from
// 17 + 5(m - 1).
std::string_view hcnMonthField(std::string_view line, int month, const ReadOptions&) {
  return Mid(line, 17 + 5 * static_cast<std::size_t>(month - 1), 5);
}

std::string_view hcnLatitudeField(std::string_view, const ReadOptions&) {
  return {};
}

// The year, columns 13 to 16.
std::string_view hcnIdField(std::string_view line, const ReadOptions&) {
  return Mid(line, 13, 4);
}

void parseHcn(std::string_view precipLine, std::string_view tmeanLine, const ReadOptions& options, RecordInput& out,
              std::string& /*text*/) {
  out.latitude = options.latitude;
  out.id = Mid(precipLine, 13, 4);
  for (int m = 0; m < kMonths; ++m) {
    out.ppt[m] =
        detail::precipitationValue(hcnMonthField(precipLine, m + 1, options), options.keepPrecipitationFraction);
    out.tmean[m] = detail::temperatureValue(hcnMonthField(tmeanLine, m + 1, options));
  }
  out.fieldCapacity = options.fieldCapacity;
}

// HCN files store tenths of a degree and tenths of a millimetre; whole
// millimetres are kept unless the fraction is wanted.
void hcnToModelUnits(RecordInput& r, const ReadOptions& options) {
  for (int m = 0; m < kMonths; ++m) {
    r.tmean[m] = r.tmean[m] / 10.0;
    if (std::isnan(r.ppt[m])) continue;
    const double mm = r.ppt[m] / 10.0;
    r.ppt[m] = options.keepPrecipitationFraction ? mm : static_cast<double>(ToInt32(mm).value_or(0));
  }
}

}  // namespace

const InputFormatDescription kHcnFormat = {
    InputFormat::Hcn,
    "hcn",
    "HCN data file",
    true,
    false,
    hcnHeaderOk,
    "Precip file not an HCN format file",
    "Temp file not an HCN format file",
    "its first line does not start with HCN",
    nullptr,
    detail::nextLine,
    parseHcn,
    hcnToModelUnits,
    hcnMonthField,
    hcnLatitudeField,
    hcnIdField,
    nullptr,
    nullptr,
    {},
};

}  // namespace vadoset
