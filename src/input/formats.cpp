#include "input/formats.h"

#include <array>
#include <cmath>

#include "platform/text.h"
#include "platform/text_stream.h"

namespace vadoset {

std::span<const InputFormatDescription> inputFormats() {
  static const std::array<InputFormatDescription, 3> formats = {kTabFormat, kHcnFormat, kCsvFormat};
  return formats;
}

const InputFormatDescription& formatDescription(InputFormat format) {
  for (const InputFormatDescription& f : inputFormats())
    if (f.format == format) return f;
  return inputFormats().front();
}

const InputFormatDescription* findFormat(std::string_view name) {
  for (const InputFormatDescription& f : inputFormats())
    if (f.cliName == name) return &f;
  return nullptr;
}

ReadOptions readOptionsFor(const Settings& settings, double fieldCapacity, double latitude) {
  ReadOptions o;
  o.latitude = latitude;
  o.fieldCapacity = fieldCapacity;
  o.fieldCapacityField = settings.fieldCapacityField;
  o.keepPrecipitationFraction = settings.keepPrecipitationFraction;
  return o;
}

namespace detail {

double precipitationValue(std::string_view field, bool keepFraction) {
  std::optional<double> v = ParseNumber(field);
  if (!v || *v == -9999.0) return NAN;
  // Precipitation must fit a 32-bit integer once its fraction is dropped,
  // and 9999 is the files' own missing marker.
  std::optional<std::int32_t> whole = ToInt32(*v);
  if (!whole || *whole == 9999) return NAN;
  return keepFraction ? *v : static_cast<double>(*whole);
}

double temperatureValue(std::string_view field) {
  std::optional<double> v = ParseNumber(field);
  if (!v || *v == -9999.0 || *v == 9999.0) return NAN;
  return *v;
}

void nextLine(TextInputStream& in, std::string& out) {
  in.appendLine(out);
}

}  // namespace detail

}  // namespace vadoset
