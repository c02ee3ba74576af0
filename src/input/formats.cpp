#include "input/formats.h"

#include <array>
#include <cmath>

#include "model/values.h"
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

namespace detail {

double precipitationValue(std::string_view field, bool keepFraction) {
  return values::precipitation(ParseNumber(field).value_or(NAN), keepFraction);
}

double temperatureValue(std::string_view field) {
  return values::temperature(ParseNumber(field).value_or(NAN));
}

double fieldCapacityValue(std::string_view field) {
  return values::fieldCapacity(ParseNumber(field).value_or(NAN));
}

void nextLine(TextInputStream& in, std::string& out) {
  in.appendLine(out);
}

}  // namespace detail

}  // namespace vadoset
